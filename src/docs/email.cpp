#include "docs/email.h"

#include "platform/binarytext.h"
#include "platform/scriptprotocol.h"

#include <QDir>
#include <QLocale>
#include <QMimeDatabase>
#include <QUrl>

#include <algorithm>
#include <utility>

namespace {

const QByteArray OuterBoundary = QByteArrayLiteral("----=_NextPart_");
// Readers may end a part at any line that merely begins with a delimiter, so neither boundary
// may begin with the other: "----=_NextPart_Nested_" would close the outer part early.
const QByteArray NestedBoundary = QByteArrayLiteral("----=_NestedPart_");
// Every text part is written as UTF-8 and says so.
const QByteArray CharsetLine = QByteArrayLiteral("    charset=\"utf-8\";");
const int MaxEncodedLine = 76;
const int MaxSevenBitLine = 998;

// The message file uses CR LF throughout, whatever line ends the page sent.
QByteArray withCrLf(const QString &text)
{
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"))
        .replace(QLatin1Char('\r'), QLatin1Char('\n'))
        .replace(QLatin1String("\n"), QLatin1String("\r\n"));
    return lines.toUtf8();
}

// Whether text may go out unencoded as "7bit": ASCII in lines a mail may carry, and nothing a
// reader could take for a delimiter (both boundaries hold "=_", which quoted-printable never
// writes).
bool isSevenBit(const QByteArray &crlfText)
{
    if (crlfText.contains("=_"))
        return false;
    int lineLength = 0;
    for (int i = 0; i < crlfText.size(); ++i) {
        const auto c = uchar(crlfText.at(i));
        if (c == '\r' && i + 1 < crlfText.size() && crlfText.at(i + 1) == '\n') {
            lineLength = 0;
            ++i;
        } else if (c >= 0x7f || (c < 0x20 && c != '\t') || ++lineLength > MaxSevenBitLine) {
            return false;
        }
    }
    return true;
}

QByteArray transferEncodingLine(bool sevenBit)
{
    return sevenBit ? QByteArrayLiteral("Content-Transfer-Encoding: 7bit")
                    : QByteArrayLiteral("Content-Transfer-Encoding: quoted-printable");
}

QByteArray wrappedLines(const QByteArray &base64)
{
    QByteArray lines;
    for (int at = 0; at < base64.size(); at += MaxEncodedLine) {
        if (at > 0)
            lines += "\r\n";
        lines += base64.mid(at, MaxEncodedLine);
    }
    return lines;
}

// A header parameter value as a quoted string, so that a quote in a file name cannot end it.
QByteArray quotedParameter(const QString &value)
{
    QByteArray bytes = value.toUtf8();
    return '"' + bytes.replace('\\', "\\\\").replace('"', "\\\"") + '"';
}

QByteArray dateHeader(const QDateTime &now)
{
    const int offsetMinutes = now.offsetFromUtc() / 60;
    const QString zone = QString::asprintf("%c%02d%02d", offsetMinutes < 0 ? '-' : '+',
                                           qAbs(offsetMinutes) / 60, qAbs(offsetMinutes) % 60);
    return (QLocale::c().toString(now, QStringLiteral("ddd, d MMM yyyy hh:mm:ss"))
            + QLatin1Char(' ') + zone)
        .toUtf8();
}

// The client reads quoted values up to the next unescaped quote, with a backslash escaping the
// character after it; escaping the backslash too keeps one at a value's end from eating the
// closing quote.
QString composeValue(QString value)
{
    return value.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\''), QLatin1String("\\'"));
}

// Commas separate the attachment URLs, so they are percent-encoded within one, as are quotes.
QString fileUrl(const QString &path)
{
    return QString::fromLatin1(QUrl::fromLocalFile(QDir::fromNativeSeparators(path))
                                   .toEncoded()
                                   .replace(',', "%2C")
                                   .replace('\'', "%27"));
}

} // namespace

Email::Email(const QString &folder)
    : m_folder(folder)
{
}

void Email::setMessage(const QString &message, bool isHTML)
{
    m_message = message;
    m_isHTML = isHTML;
}

void Email::setPriority(uint priority)
{
    m_priority = priority == Low ? Low : priority == High ? High : Normal;
}

void Email::setAttachmentLists(const QString &names, const QString &data, const QString &isBinary)
{
    // Pairing comes first: dropping empty items list by list would move data onto other names.
    const QString delimiter = ScriptProtocol::intraDelimiter();
    const QStringList nameItems = names.split(delimiter);
    const QStringList dataItems = data.split(delimiter);
    const QStringList binaryItems = isBinary.split(delimiter);
    const int count = std::min({ nameItems.size(), dataItems.size(), binaryItems.size() });
    m_attachments.clear();
    for (int i = 0; i < count; ++i) {
        const QString name = fileNameOnly(nameItems.at(i));
        if (!name.isNull() && !dataItems.at(i).trimmed().isEmpty())
            m_attachments.append(
                { name, dataItems.at(i), binaryItems.at(i) == QLatin1String("1") });
    }
}

QString Email::addressList(const QString &text)
{
    const QLatin1Char separator(';');
    QString list = text;
    if (text.contains(separator)) {
        QStringList items = text.split(separator);
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [](const QString &item) { return item.trimmed().isEmpty(); }),
                    items.end());
        list = items.join(separator);
    }
    return withoutLineBreaks(list);
}

QString Email::fileNameOnly(const QString &name)
{
    const int cut
        = std::max(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
    QString base = name.mid(cut + 1);
    for (QChar &c : base) {
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    }
    // Windows drops trailing dots and spaces, so a name of nothing else names the folder itself.
    const bool nothingLeft = std::all_of(
        base.cbegin(), base.cend(), [](QChar c) { return c == QLatin1Char('.') || c.isSpace(); });
    return nothingLeft ? QString() : base;
}

QString Email::withoutLineBreaks(QString text)
{
    return text.replace(QLatin1Char('\r'), QLatin1Char(' '))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
}

QByteArray Email::quotedPrintable(const QByteArray &bytes)
{
    static const char Hex[] = "0123456789ABCDEF";
    const auto isLineBreak = [&bytes](int at) {
        return at + 1 < bytes.size() && bytes.at(at) == '\r' && bytes.at(at + 1) == '\n';
    };
    QByteArray encoded;
    encoded.reserve(bytes.size() + bytes.size() / 4);
    int column = 0;
    for (int i = 0; i < bytes.size(); ++i) {
        if (isLineBreak(i)) {
            encoded += "\r\n";
            column = 0;
            ++i;
            continue;
        }
        const auto c = uchar(bytes.at(i));
        const bool endsLine = i + 1 == bytes.size() || isLineBreak(i + 1);
        // White space at a line's end would be lost to readers that strip it.
        const bool literal
            = (c > ' ' && c < 0x7f && c != '=') || ((c == ' ' || c == '\t') && !endsLine);
        const int width = literal ? 1 : 3;
        // A soft break's "=" needs a column of its own, unless nothing follows on this line.
        if (column + width > MaxEncodedLine - (endsLine ? 0 : 1)) {
            encoded += "=\r\n";
            column = 0;
        }
        if (literal) {
            encoded += char(c);
        } else {
            encoded += '=';
            encoded += Hex[c >> 4];
            encoded += Hex[c & 0xf];
        }
        column += width;
    }
    return encoded;
}

QByteArray Email::mimeText(const QDateTime &now) const
{
    QByteArray text;
    const auto line = [&text](const QByteArray &content) {
        text += content;
        text += "\r\n";
    };
    line("X-Unsent: 1");
    const std::pair<QByteArray, QString> addressed[]
        = { { "To: ", to() }, { "Cc: ", cc() }, { "Bcc: ", bcc() }, { "Subject: ", m_subject } };
    for (const auto &[header, value] : addressed) {
        if (!value.isEmpty())
            line(header + value.toUtf8());
    }
    line("Date: " + dateHeader(now));
    const char *level = m_priority == High ? "High" : m_priority == Low ? "Low" : "Normal";
    line(QByteArray("X-Priority: ") + (m_priority == High ? '1' : m_priority == Low ? '5' : '3'));
    line(QByteArray("X-MSMail-Priority: ") + level);
    line(QByteArray("Importance: ") + level);
    line("MIME-Version: 1.0");

    const bool hasAttachments = !m_attachments.isEmpty();
    const bool nested = m_isHTML && hasAttachments;
    if (m_isHTML || hasAttachments) {
        line(QByteArray("Content-Type: multipart/") + (hasAttachments ? "mixed;" : "alternative;"));
        line("    boundary=\"" + OuterBoundary + '"');
        line(QByteArray());
        line("This is a multi-part message in MIME format.");
        line(QByteArray());
        line("--" + OuterBoundary);
    }
    if (nested) {
        line("Content-Type: multipart/alternative;");
        line("    boundary=\"" + NestedBoundary + '"');
        line(QByteArray());
        line(QByteArray());
        line("--" + NestedBoundary);
    }

    const QByteArray body = withCrLf(m_message);
    const bool plainIsSevenBit = isSevenBit(body);
    line("Content-Type: text/plain;");
    line("    format=flowed;");
    line(CharsetLine);
    line("    reply-type=original");
    line(transferEncodingLine(plainIsSevenBit));
    if (!body.isEmpty())
        text += "\r\n" + (plainIsSevenBit ? body : quotedPrintable(body));
    if (m_isHTML) {
        text += "\r\n\r\n";
        line("--" + (nested ? NestedBoundary : OuterBoundary));
        line("Content-Type: text/html;");
        line(CharsetLine);
        line(transferEncodingLine(false));
        if (!body.isEmpty())
            text += "\r\n" + quotedPrintable(body);
    }
    if (nested) {
        text += "\r\n\r\n";
        line("--" + NestedBoundary + "--");
    }
    if (m_isHTML && !hasAttachments) {
        text += "\r\n\r\n";
        line("--" + OuterBoundary + "--");
    }

    const QMimeDatabase types;
    for (const Attachment &attachment : m_attachments) {
        text += "\r\n";
        line("--" + OuterBoundary);
        const QByteArray name = quotedParameter(attachment.name);
        line("Content-Type: "
             + types.mimeTypeForFile(attachment.name, QMimeDatabase::MatchExtension).name().toUtf8()
             + ';');
        line("    name=" + name + ';');
        QByteArray content;
        if (attachment.isBinary) {
            // Re-encoded, so that whatever the page sent is valid Base64 in lines a mail carries.
            content = wrappedLines(BinaryText::decode(attachment.data).toBase64());
            line("Content-Transfer-Encoding: base64");
        } else {
            content = withCrLf(attachment.data);
            const bool sevenBit = isSevenBit(content);
            if (!sevenBit)
                content = quotedPrintable(content);
            line(CharsetLine);
            line(transferEncodingLine(sevenBit));
        }
        line("Content-Disposition: attachment;");
        line("    filename=" + name);
        line(QByteArray());
        line(content);
    }
    if (hasAttachments)
        line("--" + OuterBoundary + "--");
    return text;
}

QString Email::composeArgument(const QStringList &attachmentPaths) const
{
    QString argument;
    const auto field = [&argument](const char *key, const QString &value) {
        argument
            += QLatin1String(key) + QLatin1String("='") + composeValue(value) + QLatin1String("',");
    };
    if (!m_to.isEmpty())
        field("to", to());
    if (!m_cc.isEmpty())
        field("cc", cc());
    if (!m_bcc.isEmpty())
        field("bcc", bcc());
    if (!m_subject.isEmpty())
        field("subject", m_subject);
    field("format", m_isHTML ? QStringLiteral("1") : QStringLiteral("2"));
    if (!m_message.isEmpty())
        field("body", m_message);
    if (!attachmentPaths.isEmpty()) {
        QStringList urls;
        for (const QString &path : attachmentPaths)
            urls.append(fileUrl(path));
        field("attachment", urls.join(QLatin1Char(',')));
    }
    argument.chop(1);
    return argument;
}
