#pragma once

#include <QByteArray>
#include <QString>

class VellumDoc;

// Lays a VellumDoc out as PDF with libharu: the numbered lines cut at the right margin, the
// notes as text annotations reachable from the "Annotations" outline, and the "Index" outline.
class VellumPdfRenderer final
{
public:
    // The PDF, or empty bytes with error set to "VellumDoc is empty." or "Could not create PDF
    // object." (any library failure).
    static QByteArray render(const VellumDoc &doc, QString *error);
};
