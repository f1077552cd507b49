#pragma once

#include "config/appconfig.h"
#include "platform/prompter.h"
#include "platform/systemopener.h"
#include "viewer/qtwebappviewer.h"
#include "webview/qtwebview.h"
#include "webview/qtwebviewprivate.h"
#include "webview/webviewprivate.h"

#include <QDir>
#include <QFile>
#include <QGraphicsWebView>
#include <QMap>
#include <QScopedPointer>
#include <QTemporaryDir>
#include <QWebFrame>
#include <QWebPage>
#include <QtTest>

// Answers every box and dialog without a person and remembers the boxes: a real dialog would
// wait for a click that never comes.
class RecordingPrompter : public Prompter
{
public:
    QStringList shown; // "title|text"
    QMessageBox::StandardButton answer = QMessageBox::No;
    QString savePath; // the save dialog's answer; empty cancels
    bool saveConfirmedOverwrite = false;

    void information(QWidget *, const QString &title, const QString &text) override
    {
        record(title, text);
    }
    void warning(QWidget *, const QString &title, const QString &text) override
    {
        record(title, text);
    }
    void critical(QWidget *, const QString &title, const QString &text) override
    {
        record(title, text);
    }
    void about(QWidget *, const QString &title, const QString &text) override
    {
        record(title, text);
    }
    QMessageBox::StandardButton question(QWidget *, const QString &title, const QString &text,
                                         QMessageBox::StandardButtons,
                                         QMessageBox::StandardButton) override
    {
        record(title, text);
        return answer;
    }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override
    {
        return {};
    }
    QStringList openFileNames(QWidget *, const QString &, const QString &, const QString &) override
    {
        return {};
    }
    QString saveFileName(QWidget *, const QString &caption, const QString &dir, const QString &,
                         bool confirmOverwrite) override
    {
        record(caption, dir);
        saveConfirmedOverwrite = confirmOverwrite;
        return savePath;
    }
    QString existingDirectory(QWidget *, const QString &, const QString &) override { return {}; }
    bool printSetup(QWidget *, QPrinter *) override { return false; }

private:
    void record(const QString &title, const QString &text)
    {
        shown.append(title + QLatin1Char('|') + text);
    }
};

// Records what would be opened instead of starting a program.
class RecordingOpener : public SystemOpener
{
public:
    QStringList opened;
    bool openWithAssociatedApplication(const QString &path) override
    {
        opened.append(path);
        return true;
    }
};

// A shell in a temporary working directory that holds a copy of the container pages and the
// test's own hosted pages. Configuration values are set in memory for one test and put back.
class ShellFixture
{
public:
    ShellFixture()
    {
        m_startDir = QDir::currentPath();
        const QString html = m_dir.filePath(QStringLiteral("html"));
        QDir().mkpath(html);
        const QDir shipped(QStringLiteral(CORVID_SOURCE_DIR "/html"));
        for (const QString &file : shipped.entryList(QDir::Files))
            QFile::copy(shipped.filePath(file), html + QLatin1Char('/') + file);
        QDir::setCurrent(m_dir.path());
        Prompter::setCurrent(&prompter);
        // A segment of this test process only: never the one of a shell running on the machine.
        QtWebViewPrivate::setStartupHandOverKey(
            QStringLiteral("corvid-test-%1").arg(QCoreApplication::applicationPid()));
        set(QStringLiteral("udp_wait_secs"), 0);
        set(QStringLiteral("on_load_maximize"), false);
        set(QStringLiteral("on_load_inject_credentials"), false);
    }

    ~ShellFixture()
    {
        viewer.reset();
        for (auto it = m_saved.cbegin(); it != m_saved.cend(); ++it)
            AppConfig::setRunValue(it.key(), it.value());
        Prompter::setCurrent(nullptr);
        QDir::setCurrent(m_startDir);
        m_dir.setAutoRemove(!QTest::currentTestFailed());
    }

    void set(const QString &key, const QVariant &value)
    {
        if (!m_saved.contains(key))
            m_saved.insert(key,
                           QSettings(AppConfig::configFilePath(), QSettings::IniFormat).value(key));
        AppConfig::setRunValue(key, value);
    }

    QString path(const QString &relative) const { return m_dir.filePath(relative); }

    void writePage(const QString &relative, const QByteArray &html)
    {
        QDir().mkpath(QFileInfo(path(relative)).path());
        QFile file(path(relative));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(html);
    }

    // Builds the shell without loading anything; successors it starts are only recorded.
    void create(const QString &handOverKey = QString())
    {
        viewer.reset(new QtWebAppViewer);
        if (!handOverKey.isEmpty())
            host()->setHandOverKey(handOverKey);
        host()->setProcessStarter([this](const QString &program, const QStringList &arguments) {
            started.append(program + QLatin1Char(' ') + arguments.join(QLatin1Char(',')));
            return true;
        });
    }

    // Starts the shell on the container page with startPage (relative to the working
    // directory) as the configured start page.
    void start(const QString &startPage, const QString &handOverKey = QString())
    {
        set(QStringLiteral("on_load_url"), QUrl::fromLocalFile(path(startPage)).toString());
        create(handOverKey);
        viewer->loadLocalFile(QStringLiteral("html/index.html"));
        viewer->show();
    }

    // Writes app/<name>, starts on it and waits until the content frame shows it with its key.
    QWebFrame *open(const QString &name, const QByteArray &html)
    {
        writePage(QStringLiteral("app/") + name, html);
        start(QStringLiteral("app/") + name);
        const QString fileName = QFileInfo(name).fileName();
        return QTest::qWaitFor([&] { return contentReady(fileName); }, 10000) ? content() : nullptr;
    }

    QtWebView *view() const { return viewer->view(); }
    QtWebViewPrivate *host() const { return view()->pageHost(); }
    QWebFrame *mainFrame() const { return view()->mainFrame(); }

    QWebFrame *frameNamed(const QString &name, QWebFrame *under = nullptr) const
    {
        const QList<QWebFrame *> children = (under ? under : mainFrame())->childFrames();
        for (QWebFrame *child : children) {
            if (child->frameName() == name)
                return child;
            if (QWebFrame *deeper = frameNamed(name, child))
                return deeper;
        }
        return nullptr;
    }

    QWebFrame *content() const { return frameNamed(QStringLiteral("contentFrame")); }

    QVariant eval(QWebFrame *frame, const QString &script) const
    {
        return frame ? frame->evaluateJavaScript(script) : QVariant();
    }

    // The content frame shows the page whose file name is given, and has its key.
    bool contentReady(const QString &fileName) const
    {
        QWebFrame *frame = content();
        return frame && frame->url().fileName() == fileName
            && eval(frame, QStringLiteral("typeof(qtKey) == 'function' && qtKey() != null"))
                   .toBool();
    }

    RecordingPrompter prompter;
    QScopedPointer<QtWebAppViewer> viewer;
    QStringList started;

private:
    QTemporaryDir m_dir;
    QString m_startDir;
    QMap<QString, QVariant> m_saved;
};
