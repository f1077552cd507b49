#include "services/mimetable.h"

#include <QFileInfo>
#include <QMimeDatabase>

namespace {

const int RefusedCode = 1000;

struct BuiltInRow
{
    const char *mimeType;
    const char *extensions; // blank-separated, in table order
};

// The built-in types that are text by the rule, with their extensions.
const BuiltInRow builtInTextRows[] = {
    { "application/xml", "xml" },
    { "text/asp", "asp" },
    { "text/css", "css" },
    { "text/html", "acgi htm html htmls htx shtml" },
    { "text/mcf", "mcf" },
    { "text/pascal", "pas" },
    { "text/plain",
      "c c++ cc com conf cxx def f f90 for g h hh idc jav java list log lst m mar pl "
      "sdml text txt" },
    { "text/richtext", "rt rtf rtx" },
    { "text/scriplet", "wsc" },
    { "text/sgml", "sgm sgml" },
    { "text/tab-separated-values", "tsv" },
    { "text/uri-list", "uni unis uri uris" },
    { "text/vnd.abc", "abc" },
    { "text/vnd.fmi.flexstor", "flx" },
    { "text/vnd.rn-realtext", "rt" },
    { "text/vnd.wap.wml", "wml" },
    { "text/vnd.wap.wmlscript", "wmls" },
    { "text/webviewhtml", "htt" },
    { "text/x-asm", "asm s" },
    { "text/x-audiosoft-intra", "aip" },
    { "text/x-c", "c cc cpp" },
    { "text/x-component", "htc" },
    { "text/x-fortran", "f f77 f90 for" },
    { "text/x-h", "h hh" },
    { "text/x-java-source", "jav java" },
    { "text/x-la-asf", "lsx" },
    { "text/x-m", "m" },
    { "text/x-pascal", "p" },
    { "text/x-script", "hlb" },
    { "text/x-script.csh", "csh" },
    { "text/x-script.elisp", "el" },
    { "text/x-script.guile", "scm" },
    { "text/x-script.ksh", "ksh" },
    { "text/x-script.lisp", "lsp" },
    { "text/x-script.perl", "pl" },
    { "text/x-script.perl-module", "pm" },
    { "text/x-script.phyton", "py" },
    { "text/x-script.rexx", "rexx" },
    { "text/x-script.scheme", "scm" },
    { "text/x-script.sh", "sh" },
    { "text/x-script.tcl", "tcl" },
    { "text/x-script.tcsh", "tcsh" },
    { "text/x-script.zsh", "zsh" },
    { "text/x-server-parsed-html", "shtml ssi" },
    { "text/x-setext", "etx" },
    { "text/x-sgml", "sgm sgml" },
    { "text/x-speech", "spc talk" },
    { "text/x-uil", "uil" },
    { "text/x-uuencode", "uu uue" },
    { "text/x-vcalendar", "vcs" },
    { "text/xml", "xml" },
};

QString quoted(const QString &text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

MimeTable::MimeTable()
{
    addBuiltInRows();
}

MimeTable &MimeTable::instance()
{
    static MimeTable table;
    return table;
}

bool MimeTable::isTextType(const QString &mimeType)
{
    return mimeType.startsWith(QLatin1String("text/")) || mimeType.endsWith(QLatin1String("+xml"))
        || mimeType == QLatin1String("application/xml");
}

QString MimeTable::extensionOf(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

bool MimeTable::isBinaryFile(const QString &path) const
{
    const QString mimeType = QMimeDatabase().mimeTypeForFile(path).name();
    return isBinaryType(mimeType, extensionOf(path));
}

bool MimeTable::isBinaryType(const QString &mimeType, const QString &extension) const
{
    // A registered extension overrides whatever the database says about the file.
    const QString extensionKey = QLatin1String("application/") + extension;
    for (auto it = m_entries.constFind(extensionKey);
         it != m_entries.constEnd() && it.key() == extensionKey; ++it) {
        if (it->extension == extension) {
            if (it->isRegistered)
                return it->isBinary;
            break;
        }
    }

    const auto first = m_entries.constFind(mimeType);
    if (first == m_entries.constEnd())
        return true;
    for (auto it = first; it != m_entries.constEnd() && it.key() == mimeType; ++it) {
        if (it->extension == extension)
            return decide(*it, mimeType);
    }
    return decide(*first, mimeType);
}

bool MimeTable::decide(const MimeEntry &entry, const QString &mimeType) const
{
    return entry.isRegistered ? entry.isBinary : !isTextType(mimeType);
}

CallResult MimeTable::registerExtension(const QString &extension, bool isBinary)
{
    if (isRefusedExtension(extension))
        return CallResult::failure(
            RefusedCode, QLatin1String("Could not register extension: ") + quoted(extension));
    const QString bare = withoutLeadingDot(extension);
    store(QLatin1String("application/") + bare, MimeEntry { bare, isBinary, true, true });
    return CallResult::ok();
}

CallResult MimeTable::registerMimeType(const QString &mimeType, const QString &extension,
                                       bool isBinary, bool isDefaultExtension)
{
    if (mimeType.isEmpty() || isRefusedExtension(extension)) {
        return CallResult::failure(
            RefusedCode,
            QLatin1String("Could not register mime type: ") + quoted(mimeType)
                + QLatin1String(" with associated extension: ") + quoted(extension));
    }
    store(mimeType, MimeEntry { withoutLeadingDot(extension), isBinary, true, isDefaultExtension });
    return CallResult::ok();
}

QList<MimeEntry> MimeTable::entries(const QString &mimeType) const
{
    return m_entries.values(mimeType);
}

bool MimeTable::isRefusedExtension(const QString &extension)
{
    return extension.isEmpty() || extension.trimmed() == QLatin1String(".");
}

QString MimeTable::withoutLeadingDot(const QString &extension)
{
    return extension.startsWith(QLatin1Char('.')) ? extension.mid(1) : extension;
}

void MimeTable::store(const QString &mimeType, const MimeEntry &entry)
{
    auto it = m_entries.find(mimeType);
    while (it != m_entries.end() && it.key() == mimeType) {
        if (it->extension == entry.extension)
            it = m_entries.erase(it);
        else
            ++it;
    }
    // Inserted ahead of the entries already under this type: the newest is visited first.
    m_entries.insert(mimeType, entry);
}

void MimeTable::addBuiltInRows()
{
    for (const BuiltInRow &row : builtInTextRows) {
        const QString mimeType = QLatin1String(row.mimeType);
        const QStringList extensions
            = QString::fromLatin1(row.extensions).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        for (const QString &extension : extensions)
            m_entries.insert(mimeType, MimeEntry { extension, true, false, false });
    }
}
