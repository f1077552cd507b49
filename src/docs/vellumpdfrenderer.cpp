#include "docs/vellumpdfrenderer.h"

#include "docs/vellumdoc.h"

#include <QDebug>
#include <QTextCodec>

#include <hpdf.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

const char WinAnsiEncoding[] = "WinAnsiEncoding";
const HPDF_UINT32 ReadChunkSize = 4096;
const int OutlineTitleLength = 15;
const float LineSpacing = 1.5f; // a line and half a line of space below it

// The lines listed under "Index" > "Test", as (page, line).
const std::pair<int, int> IndexedLines[]
    = { { 1, 20 }, { 1, 25 }, { 3, 5 }, { 7, 17 }, { 10, 40 } };

// The standard fonts draw one byte per glyph through WinAnsiEncoding, so text goes to the library
// in Windows-1252; the system's 8-bit code page (UTF-8 here) would print two glyphs for every
// accented letter. Characters outside it become "?".
QByteArray winAnsi(const QString &text)
{
    static QTextCodec *const codec = QTextCodec::codecForName("Windows-1252");
    QByteArray bytes = codec ? codec->fromUnicode(text) : text.toLatin1();
    // The library takes C strings: a NUL would end the text there.
    bytes.replace('\0', ' ');
    return bytes;
}

// A label is one line: the font has no glyph for control characters, and the width measure
// stops at a line break.
QByteArray labelBytes(const QString &label)
{
    QByteArray bytes = winAnsi(label);
    for (char &c : bytes) {
        if (static_cast<unsigned char>(c) < 0x20)
            c = ' ';
    }
    return bytes;
}

// The first characters (not UTF-16 units, so a pair is never split) followed by "...".
QString outlineTitle(const QString &note)
{
    const QVector<uint> characters = note.toUcs4();
    if (characters.size() <= OutlineTitleLength)
        return note;
    return QString::fromUcs4(characters.constData(), OutlineTitleLength) + QStringLiteral("...");
}

// Called by the library on every error. It only records: unwinding out of C code (by longjmp
// or an exception) would skip the library's clean-up and our destructors.
void recordLibraryError(HPDF_STATUS error, HPDF_STATUS detail, void *userData) noexcept
{
    qDebug().noquote() << QStringLiteral("Haru PDF Error #%1, Detail #%2").arg(error).arg(detail);
    *static_cast<bool *>(userData) = true;
}

struct PageGeometry
{
    float height = 0;
    float margin = 0;
    float usableWidth = 0;
    float lineHeight = 0;
    float stopLevel = 0; // a text position below it means the page is full

    // The top of the box of the line with this number counted from 1.
    float lineTop(int lineNumber) const
    {
        return height - margin + lineHeight - LineSpacing * lineHeight * (lineNumber - 1);
    }
};

class PdfWriter
{
public:
    explicit PdfWriter(const VellumDoc &doc)
        : m_doc(doc)
        , m_pdf(HPDF_New(&recordLibraryError, &m_failed), &HPDF_Free)
    {
        m_failed = !m_pdf;
    }

    // Empty after any library error.
    QByteArray write()
    {
        call(HPDF_SetCompressionMode, pdf(), HPDF_COMP_ALL);
        call(HPDF_SetPageMode, pdf(), HPDF_PAGE_MODE_USE_OUTLINE);
        m_encoder = call(HPDF_GetEncoder, pdf(), WinAnsiEncoding);
        m_annotations = closedOutline(nullptr, QStringLiteral("Annotations"));
        for (const VellumDoc::Page &page : m_doc.pages())
            addPage(page);
        addIndex();
        QByteArray bytes = save();
        return m_failed ? QByteArray() : bytes;
    }

private:
    HPDF_Doc pdf() const { return m_pdf.get(); }

    // Every library call goes through here, so that after the first error nothing more reaches
    // the library and the rendering runs out to its clean-up.
    template<typename Result, typename... Parameters, typename... Arguments>
    Result call(Result (*function)(Parameters...), Arguments... arguments)
    {
        if (m_failed)
            return Result();
        const Result result = function(arguments...);
        if constexpr (std::is_pointer_v<Result>) {
            if (!result)
                m_failed = true;
        }
        return result;
    }

    PageGeometry geometry(HPDF_Page page)
    {
        PageGeometry geometry;
        const int lines = m_doc.linesPerPage();
        geometry.height = call(HPDF_Page_GetHeight, page);
        geometry.margin = m_doc.margin();
        geometry.usableWidth = call(HPDF_Page_GetWidth, page) - 2 * geometry.margin;
        // N lines with half a line of space between neighbours fill the usable height.
        geometry.lineHeight
            = (geometry.height - 2 * geometry.margin) / (lines + 0.5f * (lines - 1));
        geometry.stopLevel = std::floor(geometry.margin + geometry.lineHeight);
        return geometry;
    }

    HPDF_Outline outline(HPDF_Outline parent, const QString &title)
    {
        return call(HPDF_CreateOutline, pdf(), parent, winAnsi(title).constData(), m_encoder);
    }

    HPDF_Outline closedOutline(HPDF_Outline parent, const QString &title)
    {
        HPDF_Outline entry = outline(parent, title);
        call(HPDF_Outline_SetOpened, entry, HPDF_FALSE);
        return entry;
    }

    void pointTo(HPDF_Outline entry, HPDF_Page page, float top)
    {
        HPDF_Destination destination = call(HPDF_Page_CreateDestination, page);
        call(HPDF_Destination_SetXYZ, destination, 0.0f, top, 1.0f);
        call(HPDF_Outline_SetDestination, entry, destination);
    }

    void addPage(const VellumDoc::Page &page)
    {
        HPDF_Page pdfPage = call(HPDF_AddPage, pdf());
        m_pages.push_back(pdfPage);
        const PageGeometry layout = geometry(pdfPage);
        HPDF_Font font
            = call(HPDF_GetFont, pdf(), m_doc.fontName().toLatin1().constData(), WinAnsiEncoding);
        call(HPDF_Page_SetFontAndSize, pdfPage, font, layout.lineHeight);
        call(HPDF_Page_BeginText, pdfPage);
        call(HPDF_Page_MoveTextPos, pdfPage, layout.margin, layout.height - layout.margin);
        for (const VellumDoc::Line &line : page.lines) {
            const float top = call(HPDF_Page_GetCurrentTextPos, pdfPage).y + layout.lineHeight;
            QByteArray label = labelBytes(line.label());
            HPDF_REAL labelWidth = 0;
            label.truncate(static_cast<int>(call(HPDF_Page_MeasureText, pdfPage, label.constData(),
                                                 layout.usableWidth, HPDF_FALSE, &labelWidth)));
            if (!line.note.isEmpty())
                addNote(pdfPage, layout, line.note, top);
            call(HPDF_Page_ShowText, pdfPage, label.constData());
            call(HPDF_Page_MoveTextPos, pdfPage, 0.0f, -LineSpacing * layout.lineHeight);
            if (m_failed || call(HPDF_Page_GetCurrentTextPos, pdfPage).y < layout.stopLevel)
                break;
        }
        call(HPDF_Page_EndText, pdfPage);
    }

    void addNote(HPDF_Page page, const PageGeometry &layout, const QString &note, float top)
    {
        const float left = layout.margin / 2;
        const HPDF_Rect rect { left, top - 200, left + 200, top };
        HPDF_Annotation annotation
            = call(HPDF_Page_CreateTextAnnot, page, rect, winAnsi(note).constData(), m_encoder);
        call(HPDF_TextAnnot_SetIcon, annotation, HPDF_ANNOT_ICON_NOTE);
        pointTo(outline(m_annotations, outlineTitle(note)), page, top);
    }

    void addIndex()
    {
        HPDF_Outline test = closedOutline(closedOutline(nullptr, QStringLiteral("Index")),
                                          QStringLiteral("Test"));
        for (const VellumDoc::Page &page : m_doc.pages()) {
            for (const VellumDoc::Line &line : page.lines) {
                const std::pair<int, int> position { line.pageNumber, line.lineNumber };
                if (line.pageNumber > static_cast<int>(m_pages.size())
                    || std::find(std::begin(IndexedLines), std::end(IndexedLines), position)
                        == std::end(IndexedLines))
                    continue;
                HPDF_Page target = m_pages.at(line.pageNumber - 1);
                pointTo(outline(test,
                                QString::number(line.pageNumber) + QLatin1Char('/')
                                    + QString::number(line.lineNumber)),
                        target, geometry(target).lineTop(line.lineNumber));
            }
        }
    }

    QByteArray save()
    {
        call(HPDF_SaveToStream, pdf());
        call(HPDF_ResetStream, pdf());
        QByteArray bytes;
        char chunk[ReadChunkSize];
        while (!m_failed) {
            HPDF_UINT32 size = ReadChunkSize;
            const HPDF_STATUS status
                = call(HPDF_ReadFromStream, pdf(), reinterpret_cast<HPDF_BYTE *>(chunk), &size);
            if (status != HPDF_OK && status != HPDF_STREAM_EOF)
                m_failed = true;
            else if (size == 0)
                break;
            else
                bytes.append(chunk, static_cast<int>(size));
        }
        return bytes;
    }

    const VellumDoc &m_doc;
    bool m_failed = false; // set by the library's error handler
    std::unique_ptr<std::remove_pointer_t<HPDF_Doc>, decltype(&HPDF_Free)> m_pdf;
    HPDF_Encoder m_encoder = nullptr;
    HPDF_Outline m_annotations = nullptr;
    std::vector<HPDF_Page> m_pages;
};

} // namespace

QByteArray VellumPdfRenderer::render(const VellumDoc &doc, QString *error)
{
    if (doc.pages().isEmpty()) {
        *error = QStringLiteral("VellumDoc is empty.");
        return QByteArray();
    }
    PdfWriter writer(doc);
    const QByteArray pdf = writer.write();
    if (pdf.isEmpty())
        *error = QStringLiteral("Could not create PDF object.");
    return pdf;
}
