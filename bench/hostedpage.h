#pragma once

// A benchmark's hosted page as start page of the test suite's shell, in a temporary working
// directory, talking to the shell only through Qt() and the container library.

#include "shellfixture.h"

#include "benchsupport.h"

class HostedPage
{
public:
    // Ready once readyScript holds in the page and the container knows the page's callback.
    bool start(const QString &name, const char *html, const QString &readyScript,
               const QString &callback)
    {
        const QString page = QStringLiteral("app/") + name;
        m_shell.writePage(page, html);
        m_shell.start(page);
        const QString registered = QStringLiteral("!!corvidRegistry['%1']").arg(callback);
        return waitFor(
            [&] {
                return eval(readyScript).toBool()
                    && m_shell.eval(m_shell.mainFrame(), registered).toBool();
            },
            20000);
    }

    QString path(const QString &relative) const { return m_shell.path(relative); }
    QVariant eval(const QString &script) const { return m_shell.eval(m_shell.content(), script); }
    QWebFrame *content() const { return m_shell.content(); }

private:
    ShellFixture m_shell;
};
