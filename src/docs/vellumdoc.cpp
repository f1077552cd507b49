#include "docs/vellumdoc.h"

#include "docs/vellumpdfrenderer.h"
#include "services/fileoperations.h"

namespace {

const int SamplePages = 10;
const int SampleLines = 100;

// The name the delivered file gets: always with the ".pdf" ending, "unknown.pdf" for no name.
QString pdfFileName(const QString &pdfName)
{
    const QString extension = QStringLiteral(".pdf");
    if (pdfName.isEmpty())
        return QStringLiteral("unknown") + extension;
    return pdfName.endsWith(extension, Qt::CaseInsensitive) ? pdfName : pdfName + extension;
}

} // namespace

QString VellumDoc::Line::label() const
{
    if (pageNumber == 0 || lineNumber == 0 || text.isEmpty())
        return QString();
    return QString::number(pageNumber) + QLatin1Char('/') + QString::number(lineNumber)
        + QLatin1Char(' ') + text;
}

bool VellumDoc::parse(const QString &xml, QString *error)
{
    m_pages.clear();
    if (xml.isEmpty()) {
        *error = QStringLiteral("XML data not provided");
        return false;
    }
    // The document's own vocabulary is not read yet: every document shows the layout sample.
    for (int pageNumber = 1; pageNumber <= SamplePages; ++pageNumber) {
        Page page;
        page.number = pageNumber;
        page.lines.reserve(SampleLines);
        for (int lineNumber = 1; lineNumber <= SampleLines; ++lineNumber) {
            Line line { pageNumber, lineNumber, QString(lineNumber, QLatin1Char('X')), QString() };
            if (pageNumber == 1 && lineNumber == 10)
                line.note = QStringLiteral("This is a test! This is a test! This is a test! "
                                           "This is a test!");
            page.lines.append(line);
        }
        m_pages.append(page);
    }
    return true;
}

QByteArray VellumDoc::render(QString *error) const
{
    return VellumPdfRenderer::render(*this, error);
}

CallResult VellumDoc::toPdfForPage(const QString &docxml, const QString &pdfName,
                                   const QString &callbackFunc)
{
    const QString failed = QStringLiteral("Could not convert Vellum XML to PDF. ");
    if (docxml.isEmpty())
        return CallResult::failure(1000, failed + QStringLiteral("The xml data was not provided."));
    VellumDoc doc;
    QString error;
    const QByteArray pdf = doc.parse(docxml, &error) ? doc.render(&error) : QByteArray();
    if (pdf.isEmpty())
        return CallResult::failure(1001, failed + error);
    return FileOperations::deliverFile(callbackFunc, pdfFileName(pdfName), pdf)
        .value_or(CallResult::ok());
}
