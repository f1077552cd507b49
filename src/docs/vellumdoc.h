#pragma once

#include "platform/corvidexport.h"
#include "services/callresult.h"

#include <QByteArray>
#include <QList>
#include <QString>

// Placeholder until it lands: the hosted product's document as pages of numbered lines, and
// its PDF.
class CORVID_EXPORT VellumDoc
{
public:
    // The page call: the PDF of docxml delivered to callbackFunc as a file named after pdfName,
    // or the failure to report. Nothing is written to disk.
    static CallResult toPdfForPage(const QString &docxml, const QString &pdfName,
                                   const QString &callbackFunc);
};
