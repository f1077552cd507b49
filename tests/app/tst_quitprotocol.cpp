#include "peerprocess.h"
#include "shellfixture.h"

#include <QAction>

namespace {

// A hosted page that runs the script once it holds its key.
QByteArray scriptedPage(const QString &script)
{
    return "<!DOCTYPE html><html><body><script>\nfunction onQtLoad() {\n" + script.toUtf8()
        + "\n}\n</script></body></html>";
}

// The shell's log lines of a quit.
const QString Waiting = QStringLiteral("Waiting for web app processing...");
const QString Asked = QStringLiteral("Issued quit request notification to web app...");
const QString Answered = QStringLiteral("Completed onQuitRequest process in web app.");
const QString Closed = QStringLiteral("Closing Web App Viewer...");
const QString Forced = QStringLiteral("FORCED QUIT!");

} // namespace

class TestQuitProtocol : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_shell.reset(new ShellFixture); }
    void cleanup() { m_shell.reset(); }

    // A real shell, which the commands end once its page holds its key ("await" waits for a
    // line in the log). The log, started once, shows the steps in order.
    void shellProcessExit_data()
    {
        QTest::addColumn<QStringList>("commands");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QStringList>("logged");
        // The page asks to be told of a quit, and quits when told the %1th time: with its id
        // times ten plus the state change indicator, 11 * 10 + 5.
        const QString listen = QStringLiteral(
            "eval Qt().onQuitRequest( qtKey(), qtCallbackPersistent( 'onAsked' ), 11 ); "
            "window.asked = 0; window.onAsked = function( id ) { if ( ++asked == %1 ) "
            "Qt().quitWithError( qtKey(), '', 0, id * 10 + popQtStateChangeIndicator() ); };");
        // The page lets go while a close waits, which so shows that the wait handles events.
        const QString busy
            = QStringLiteral("eval Qt().qtSetProcessing( true ); setTimeout( "
                             "function() { Qt().qtSetProcessing( false ); }, 1500 );");
        const QString quitWith = QStringLiteral("eval Qt().quitWithError( qtKey(), '', 0, %1 );");
        QTest::newRow("own code") << QStringList { quitWith.arg(7) } << 7 << QStringList();
        // Only 8 bits reach the parent: this would otherwise read as success.
        QTest::newRow("code 256 is not success")
            << QStringList { quitWith.arg(256) } << 255 << QStringList();
        // Code 0 behaves like a close.
        QTest::newRow("code 0 asks a listening page")
            << QStringList { listen.arg(1), quitWith.arg(0) } << 115
            << QStringList { Asked, Answered };
        QTest::newRow("close waits for a busy page")
            << QStringList { busy, "close" } << 0 << QStringList { Waiting, Closed };
        QTest::newRow("close asks a listening page each time")
            << QStringList { listen.arg(2), busy, "close", "await " + Answered, "close" } << 115
            << QStringList { Waiting, Asked, Answered, Asked, Answered };
        QTest::newRow("forced quit of an idle shell: the first stage ends the loop")
            << QStringList { "forcequit 200" } << 0 << QStringList { Forced };
        QTest::newRow("forced quit of a shell waiting for the page: the hard stage")
            << QStringList { "eval Qt().qtSetProcessing( true );", "close", "forcequit 200" } << 1
            << QStringList { Waiting, Forced, "FORCED *HARD* QUIT!" };
    }

    void shellProcessExit()
    {
        QFETCH(QStringList, commands);
        QFETCH(int, expected);
        QFETCH(QStringList, logged);
        PeerWorkDir dir(scriptedPage(QString()));
        ShellPeer peer(dir, {});
        QVERIFY2(!peer.waitFor("ready").isNull(), qPrintable(peer.errors()));
        for (const QString &command : commands) {
            if (command.startsWith("await "))
                QTRY_VERIFY(dir.logText().contains(command.mid(6)));
            else
                peer.send(command);
        }
        QCOMPARE(peer.waitForExit(), expected);
        QStringList seen;
        for (const QString &line : dir.logText().split('\n')) {
            const QString entry = line.section(QStringLiteral("] "), 1);
            if (!entry.isEmpty() && !(entry == Waiting && seen.endsWith(Waiting)))
                seen << entry;
        }
        QCOMPARE(seen,
                 QStringList { "CORVID DEBUGGING..." } + logged
                     + QStringList { "CLOSING APPLICATION..." });
    }

    void shellQuitNeedsNoKey_data()
    {
        QTest::addColumn<bool>("fromMenu");
        QTest::newRow("window close") << false;
        QTest::newRow("menu exit") << true;
    }

    // The shell's own ways to quit work before any page has its key.
    void shellQuitNeedsNoKey()
    {
        QFETCH(bool, fromMenu);
        m_shell->set(QStringLiteral("display_menu_bar"), true);
        m_shell->create();
        m_shell->viewer->show();
        QVERIFY(m_shell->view()->accessKey().isEmpty());
        for (QAction *action : m_shell->viewer->findChildren<QAction *>()) {
            if (fromMenu && action->text() == QLatin1String("E&xit"))
                action->trigger();
        }
        if (!fromMenu)
            m_shell->viewer->close();
        QTRY_VERIFY(!m_shell->viewer->isVisible());
    }

    // The processing flag belongs to the document that set it: once that document is gone,
    // nothing is left to clear it, and it must not hold the shell open.
    void processingEndsWithTheDocumentThatSetIt_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("stillHeld");
        QTest::newRow("setter navigated away")
            << "frames['worker'].location.href = 'blank.html';" << false;
        QTest::newRow("setter removed")
            << "document.body.removeChild( document.getElementsByName( 'worker' )[0] );" << false;
        QTest::newRow("another frame reloaded") << "frames['other'].location.reload();" << true;
    }

    void processingEndsWithTheDocumentThatSetIt()
    {
        QFETCH(QString, change);
        QFETCH(bool, stillHeld);
        m_shell->writePage(QStringLiteral("app/worker.html"),
                           scriptedPage(QStringLiteral("Qt().qtSetProcessing( true );")));
        m_shell->writePage(QStringLiteral("app/blank.html"), scriptedPage(QString()));
        QVERIFY(m_shell->open(QStringLiteral("page.html"),
                              "<iframe name=\"worker\" src=\"worker.html\"></iframe>"
                              "<iframe name=\"other\" src=\"blank.html\"></iframe>"));
        QWebFrame *other = m_shell->frameNamed(QStringLiteral("other"));
        WebViewPrivate *d = m_shell->view()->webViewPrivate();
        QTRY_VERIFY(d->isProcessing() && m_shell->eval(other, "window.qtLoadSignalled_").toBool());
        m_shell->eval(other, "window.before = true;");
        m_shell->eval(m_shell->content(), change);
        QTRY_VERIFY(!stillHeld
                    || m_shell->eval(other, "window.qtLoadSignalled_ && !window.before").toBool());
        QTRY_COMPARE(d->isProcessing(), stillHeld);
    }

private:
    QScopedPointer<ShellFixture> m_shell;
};

QTEST_MAIN(TestQuitProtocol)
#include "tst_quitprotocol.moc"
