#include "peerprocess.h"

#include <QRandomGenerator>

class TestShellHandOver : public QObject
{
    Q_OBJECT

private slots:
    void successorTakesOverTheWindow_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("clone");
        QTest::newRow("new window, without the page") << "clone" << false;
        QTest::newRow("recovery of a maximized window") << "recover" << true;
    }

    // Shell A hands over to shell B through a real shared memory segment: asked for a new
    // window or a recovery, A asks for its successor (the test starts B as A asked), and B
    // restores the window, beside A's for a new window; after a recovery A quits.
    void successorTakesOverTheWindow()
    {
        QFETCH(QString, command);
        QFETCH(bool, clone);
        const bool maximized = command == QLatin1String("recover");
        PeerWorkDir dir("<html><body><script>function onQtLoad() {}</script></body></html>");
        const QString key = QString::number(QRandomGenerator::global()->generate64());
        const QStringList shared { "--handover-key", "corvid-test-" + key, "--set",
                                   QStringLiteral("new_window_is_clone=%1").arg(clone) };
        ShellPeer first(
            dir,
            shared + QStringList { "--set", QStringLiteral("on_load_maximize=%1").arg(maximized) });
        QVERIFY2(!first.waitFor("ready").isNull(), qPrintable(first.errors()));
        const QStringList before = first.waitFor("geometry").split(' ');
        QCOMPARE(before.value(4), maximized ? "maximized" : "normal");
        QCOMPARE(first.waitFor("handover"), QStringLiteral("0 "));

        first.send(command);
        const QString start = first.waitFor("start");
        QCOMPARE(QFileInfo(start.section(' ', 0, -2)).canonicalFilePath(),
                 QFileInfo(SHELL_PEER).canonicalFilePath());
        QCOMPARE(start.section(' ', -1), QStringLiteral("[\"\"]"));
        ShellPeer second(dir, shared + QStringList { QString() });
        QVERIFY2(!second.waitFor("ready").isNull(), qPrintable(second.errors()));
        const QStringList after = second.waitFor("geometry").split(' ');
        QCOMPARE(after.value(4), before.value(4));
        const int offset = command == QLatin1String("clone") ? 50 : 0;
        for (int i = 0; i < 4 && !maximized; ++i)
            QCOMPARE(after.value(i).toInt(), before.value(i).toInt() + (i < 2 ? offset : 0));
        QCOMPARE(second.waitFor("handover"), "1 " + (clone ? dir.pageUrl() : QString()));

        QList<ShellPeer *> running { &second };
        if (offset)
            running << &first;
        else
            QCOMPARE(first.waitForExit(), 0);
        for (ShellPeer *peer : running) {
            peer->send(QStringLiteral("close"));
            QCOMPARE(peer->waitForExit(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestShellHandOver)
#include "tst_shellhandover.moc"
