#pragma once

#include "platform/corvidexport.h"
#include "services/callresult.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The hosted product's document as pages of numbered lines, each with an optional note, and
// its PDF.
class CORVID_EXPORT VellumDoc final
{
public:
    struct Line
    {
        int pageNumber = 0;
        int lineNumber = 0;
        QString text;
        QString note; // empty: the line has none

        // "page/line text"; empty when the page or line number is 0 or the text is empty.
        QString label() const;
    };

    struct Page
    {
        int number = 0;
        QVector<Line> lines;
    };

    // Fills the pages from xml (the fixed sample for any non-empty text); false with the error
    // for empty text. The pages are cleared first either way.
    bool parse(const QString &xml, QString *error);
    // The PDF, or empty bytes with the error set.
    QByteArray render(QString *error) const;

    const QVector<Page> &pages() const { return m_pages; }
    void appendPage(const Page &page) { m_pages.append(page); }

    // A standard PDF font; it draws text in the Windows-1252 character set.
    QString fontName() const { return m_fontName; }
    void setFontName(const QString &fontName) { m_fontName = fontName; }
    int linesPerPage() const { return m_linesPerPage; }
    void setLinesPerPage(int linesPerPage) { m_linesPerPage = linesPerPage; }
    // Points, on all four sides.
    float margin() const { return m_margin; }
    void setMargin(float margin) { m_margin = margin; }

    // The page call: the PDF of docxml delivered to callbackFunc as a file named after pdfName,
    // or the failure to report. Nothing is written to disk.
    static CallResult toPdfForPage(const QString &docxml, const QString &pdfName,
                                   const QString &callbackFunc);

private:
    QVector<Page> m_pages;
    QString m_fontName = QStringLiteral("Helvetica");
    int m_linesPerPage = 50;
    float m_margin = 60.0f;
};
