#include "platform/filewriter.h"
#include "writeinchild.h"

#include <QTemporaryDir>
#include <QtTest>

class TestFileWriter : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QFile file(path("file.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("the old content\r\n\x01") == 18);
    }

    void filePath_data()
    {
        QTest::addColumn<QString>("directory");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("expected"); // null when the directory cannot be had
        const QString pdf = QStringLiteral("a.pdf");
        QTest::newRow("existing directory") << "." << pdf << "a.pdf";
        QTest::newRow("missing chain is made") << "a/b/c" << pdf << "a/b/c/a.pdf";
        QTest::newRow("absolute name")
            << "out" << QString("/elsewhere/a.pdf") << "/elsewhere/a.pdf";
        QTest::newRow("empty directory") << "" << pdf << QString();
        QTest::newRow("directory below a file") << "file.txt/out" << pdf << QString();
    }

    void filePath()
    {
        QFETCH(QString, directory);
        QFETCH(QString, fileName);
        QFETCH(QString, expected);
        const QString dir = directory.isEmpty() ? QString() : path(directory);
        const QString result = FileWriter::filePath(dir, fileName);
        const bool absolute = QDir::isAbsolutePath(expected);
        QCOMPARE(result,
                 expected.isNull() || absolute ? expected : QDir::cleanPath(path(expected)));
        QCOMPARE(QFileInfo(dir).isDir(), !expected.isNull());
    }

    void writeFileData_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<QString>("data");
        QTest::addColumn<bool>("isBinary");
        QTest::addColumn<QByteArray>("expected"); // null when the write fails
        const QByteArray bytes("\x00\x01\xfe\xffPDF", 7);
        const QString base64 = QString::fromLatin1(bytes.toBase64());
        const QString file = QStringLiteral("file.txt");
        QTest::newRow("bare Base64") << file << base64 << true << bytes;
        QTest::newRow("data URL") << file << "data:application/pdf;base64," + base64 << true
                                  << bytes;
        QTest::newRow("empty binary") << file << QString() << true << QByteArray("");
        // Linux has no text mode of its own: line feeds are written unchanged.
        QTest::newRow("text with line feed")
            << file << QString("a\nb") << false << QByteArray("a\nb");
        QTest::newRow("directory in the way") << "." << QString("bmV3") << true << QByteArray();
        QTest::newRow("missing parent")
            << "missing/x.txt" << QString("new") << false << QByteArray();
    }

    void writeFileData()
    {
        QFETCH(QString, target);
        QFETCH(QString, data);
        QFETCH(bool, isBinary);
        QFETCH(QByteArray, expected);
        QCOMPARE(FileWriter::writeFileData(path(target), data, isBinary), !expected.isNull());
        QFile file(path(target));
        QCOMPARE(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray(), expected);
    }

    // The write fails when the disk refuses the data, with the old file as it was.
    void writeFailingMidwayKeepsOldContent()
    {
        const QString report
            = writeInChildWithSizeLimit("writeFileData", path("file.txt"), 1 << 20);
        QCOMPARE(report, QStringLiteral("0 -1 failed"));
        QFile file(path("file.txt"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("the old content\r\n\x01"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), { "file.txt" });
    }

private:
    QString path(const QString &relative) const { return m_dir->filePath(relative); }

    QScopedPointer<QTemporaryDir> m_dir;
};

QTEST_GUILESS_MAIN(TestFileWriter)
#include "tst_filewriter.moc"
