#include "docs/vellumdoc.h"
#include "platform/binarytext.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

Q_DECLARE_METATYPE(VellumDoc)

namespace {

// The peer's standard output; empty when it failed.
QString runPeer(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    const bool ran = process.waitForFinished(120000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0;
    return ran ? QString::fromUtf8(process.readAllStandardOutput()) : QString();
}

// The text lines pdftotext reads on the first page, then its page break.
QStringList firstPageLines(const QString &file)
{
    return runPeer("pdftotext", { "-layout", "-l", "1", file, "-" })
        .split('\n', Qt::SkipEmptyParts);
}

// One line per entry: indented title, "(closed)", and the page and top it points to.
void describeOutlines(const QJsonArray &entries, const QString &indent, QStringList *lines)
{
    for (const QJsonValue &value : entries) {
        const QJsonObject entry = value.toObject();
        QString line = indent + entry.value("title").toString()
            + (entry.value("open").toBool() ? "" : " (closed)");
        const QJsonArray dest = entry.value("dest").toArray();
        if (!dest.isEmpty())
            line += QString(" -> page %1 at %2")
                        .arg(entry.value("destpageposfrom1").toInt())
                        .arg(dest.at(3).toDouble(), 0, 'f', 1);
        lines->append(line);
        describeOutlines(entry.value("kids").toArray(), indent + QLatin1Char(' '), lines);
    }
}

// The outline tree, then each text annotation as contents, icon and rectangle, as qpdf reads them.
QStringList outlinesAndNotes(const QString &file)
{
    const QJsonObject json
        = QJsonDocument::fromJson(
              runPeer("qpdf", { "--json-output", "--json-key=outlines", "--json-key=qpdf", file })
                  .toUtf8())
              .object();
    QStringList lines;
    describeOutlines(json.value("outlines").toArray(), QString(), &lines);
    for (const QJsonValue &object : json.value("qpdf").toArray().at(1).toObject()) {
        const QJsonObject value = object.toObject().value("value").toObject();
        if (value.value("/Subtype").toString() != QLatin1String("/Text"))
            continue;
        QStringList rect;
        for (const QJsonValue &corner : value.value("/Rect").toArray())
            rect.append(QString::number(corner.toDouble(), 'f', 1));
        lines.append(value.value("/Contents").toString() + '|' + value.value("/Name").toString()
                     + '|' + rect.join(','));
    }
    return lines;
}

VellumDoc sample()
{
    VellumDoc doc;
    QString error;
    doc.parse("any text, even no XML", &error);
    return doc;
}

} // namespace

class TestVellumDoc : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { m_keepFiles = m_keepFiles || QTest::currentTestFailed(); }
    void cleanupTestCase() { m_dir.setAutoRemove(!m_keepFiles); }

    void sampleLayoutAndOutlines()
    {
        const QString file = write(sample(), "sample.pdf");
        QVERIFY2(!runPeer("qpdf", { "--check", file }).isEmpty(), "qpdf --check found faults");
        QCOMPARE(runPeer("qpdf", { "--show-npages", file }), QString("10\n"));
        // 50 of the 100 lines fit, each label whole: the widest (1/50) is narrower than the page.
        QStringList labels;
        for (int line = 1; line <= 50; ++line)
            labels.append(QString("1/%1 ").arg(line) + QString(line, 'X'));
        QCOMPARE(firstPageLines(file), labels << "\f");
        // Tops of the line boxes: 781 + L - 1.5 L (line - 1) with L = 721 / 74.5.
        QCOMPARE(outlinesAndNotes(file),
                 QStringList({ "Annotations (closed)", " This is a test!... -> page 1 at 660.0",
                               "Index (closed)", " Test (closed)", "  1/20 -> page 1 at 514.9",
                               "  1/25 -> page 1 at 442.3", "  3/5 -> page 3 at 732.6",
                               "  7/17 -> page 7 at 558.4", "  10/40 -> page 10 at 224.5",
                               "u:This is a test! This is a test! This is a test! This is a "
                               "test!|/Note|30.0,460.0,230.0,660.0" }));
    }

    void ownDocumentTextAndCut()
    {
        const QString accented = "Grüße, déjà vu";
        VellumDoc doc;
        doc.appendPage({ 1,
                         { { 1, 1, accented + " € ☃", accented + "€ Ende" },
                           { 1, 2, "a\nb", QString() },
                           { 1, 3, QString(200, 'X'), QString() } } });
        const QString file = write(doc, "own.pdf");
        QCOMPARE(firstPageLines(file).mid(0, 2),
                 QStringList({ "1/1 " + accented + " € ?", "1/2 a b" }));
        const QStringList outlines = outlinesAndNotes(file);
        QCOMPARE(outlines.value(1), " " + accented + "€... -> page 1 at 790.7");
        QVERIFY(outlines.last().startsWith("u:" + accented + "€ Ende|/Note|"));

        // The cut label ends before the right margin (595 - 60) and one more X would cross it.
        const QRegularExpressionMatch cut
            = QRegularExpression("xMin=\"([\\d.]+)\"[^>]*xMax=\"([\\d.]+)\"[^>]*>(X+)<")
                  .match(runPeer("pdftotext", { "-bbox", file, "-" }));
        const double xMin = cut.captured(1).toDouble(), xMax = cut.captured(2).toDouble();
        const double xWidth = (xMax - xMin) / cut.captured(3).size();
        QVERIFY2(cut.captured(3).size() < 200 && xMax <= 535 && xMax + xWidth > 535,
                 qPrintable(cut.captured(0)));
    }

    void failures_data()
    {
        QTest::addColumn<VellumDoc>("doc");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QStringList>("debugLines");

        VellumDoc unknownFont = sample();
        unknownFont.setFontName("NoSuchFont");
        QTest::newRow("no pages") << VellumDoc() << "VellumDoc is empty." << QStringList();
        QTest::newRow("unknown font") // invalid font name
            << unknownFont << "Could not create PDF object."
            << QStringList("Haru PDF Error #4143, Detail #0");
    }

    void failures()
    {
        QFETCH(VellumDoc, doc);
        QFETCH(QStringList, debugLines);
        // Exactly one line per failure: the calls after the first error never reach the library.
        static QStringList captured;
        captured.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &text) { captured << text; });
        QString error;
        const QByteArray pdf = doc.render(&error);
        qInstallMessageHandler(previous);
        QVERIFY(pdf.isEmpty());
        QTEST(error, "error");
        QCOMPARE(captured, debugLines);
    }

    void pageCall_data()
    {
        QTest::addColumn<QString>("docxml");
        QTest::addColumn<QString>("pdfName");
        QTest::addColumn<QString>("fileName"); // empty: the call fails

        const QString xml = "<doc/>";
        QTest::newRow("upper-case ending kept") << xml << QString("x.PDF") << QString("x.PDF");
        QTest::newRow("ending added") << xml << QString("x") << QString("x.pdf");
        QTest::newRow("no name") << xml << QString() << QString("unknown.pdf");
        QTest::newRow("no document") << QString() << QString("x.pdf") << QString();
    }

    void pageCall()
    {
        QFETCH(QString, docxml);
        QFETCH(QString, pdfName);
        QFETCH(QString, fileName);
        const CallResult result = VellumDoc::toPdfForPage(docxml, pdfName, "onPdf");
        QString error;
        const QStringList delivered
            = { fileName, BinaryText::encode(sample().render(&error)), "1", "pdf" };
        QCOMPARE(result.values, fileName.isEmpty() ? QStringList() : delivered);
        QCOMPARE(result.success, !fileName.isEmpty());
        QCOMPARE(result.errorCode, fileName.isEmpty() ? 1000 : 0);
        QCOMPARE(result.message,
                 fileName.isEmpty()
                     ? "Could not convert Vellum XML to PDF. The xml data was not provided."
                     : QString());
    }

private:
    // The path of the rendered file in the test's folder, which the peers read.
    QString write(const VellumDoc &doc, const QString &name)
    {
        QString error;
        QFile file(m_dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(doc.render(&error)) <= 0)
            qWarning("%s not written: %s", qPrintable(name), qPrintable(error));
        return file.fileName();
    }

    QTemporaryDir m_dir;
    bool m_keepFiles = false;
};

QTEST_GUILESS_MAIN(TestVellumDoc)
#include "tst_vellumdoc.moc"
