#pragma once

#include "platform/corvidexport.h"
#include "services/callresult.h"

#include <QList>
#include <QMultiMap>
#include <QString>

// One extension under one MIME type. Only entries registered by the page impose isBinary;
// built-in rows leave the decision to the text rule.
struct MimeEntry final
{
    QString extension;
    bool isBinary = true;
    bool isRegistered = false;
    bool isDefaultExtension = false;
};

// Decides whether a file handed to the page travels as text or as Base64. The built-in rows are
// those whose type is text by the rule: a type missing from the table is binary anyway, so rows
// of binary types could never turn a file into text and are not carried.
class CORVID_EXPORT MimeTable final
{
public:
    // A table holding the built-in rows only.
    MimeTable();

    // The process-wide table shared by every view.
    static MimeTable &instance();

    // Text: "text/..." types, "...+xml" types and "application/xml"; every other type is binary.
    static bool isTextType(const QString &mimeType);
    // The last dot-separated part of the path's file name, lower-cased; empty without a dot.
    static QString extensionOf(const QString &path);

    // The file's type comes from the toolkit's MIME database (name and content).
    bool isBinaryFile(const QString &path) const;
    bool isBinaryType(const QString &mimeType, const QString &extension) const;

    // Bodies of the page's registration calls: refused for an empty extension or ".", one
    // leading dot is dropped, and an entry with the same type and extension is replaced.
    CallResult registerExtension(const QString &extension, bool isBinary);
    CallResult registerMimeType(const QString &mimeType, const QString &extension, bool isBinary,
                                bool isDefaultExtension);

    // The entries under mimeType, the one added last first.
    QList<MimeEntry> entries(const QString &mimeType) const;
    int size() const { return m_entries.size(); }

private:
    static bool isRefusedExtension(const QString &extension);
    static QString withoutLeadingDot(const QString &extension);
    bool decide(const MimeEntry &entry, const QString &mimeType) const;
    void store(const QString &mimeType, const MimeEntry &entry);
    void addBuiltInRows();

    QMultiMap<QString, MimeEntry> m_entries;
};
