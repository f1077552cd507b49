#pragma once

#include "platform/corvidexport.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

// One mail as the page described it, made safe to hand on: header values hold no line breaks
// and attachment names are bare file names. It renders itself as an unsent MIME message or as
// the compose argument of a client that takes one on its command line.
class CORVID_EXPORT Email final
{
public:
    enum MailPriority { Low = 0, Normal = 1, High = 2 };

    struct Attachment
    {
        QString name;
        QString data; // text, or Base64 (possibly a data URL) when isBinary
        bool isBinary = false;
    };

    // folder: where the message file and the attachment files go.
    explicit Email(const QString &folder);

    QString folder() const { return m_folder; }

    // Address lists as the page writes them, separated by ";"; blank items are dropped. The
    // getters separate them by ",".
    void setTo(const QString &list) { m_to = addressList(list); }
    void setCc(const QString &list) { m_cc = addressList(list); }
    void setBcc(const QString &list) { m_bcc = addressList(list); }
    QString to() const { return commaSeparated(m_to); }
    QString cc() const { return commaSeparated(m_cc); }
    QString bcc() const { return commaSeparated(m_bcc); }

    void setSubject(const QString &subject) { m_subject = withoutLineBreaks(subject); }
    QString subject() const { return m_subject; }
    void setMessage(const QString &message, bool isHTML);
    QString message() const { return m_message; }
    bool isHTML() const { return m_isHTML; }
    // Any value but Low or High is Normal.
    void setPriority(uint priority);
    MailPriority priority() const { return m_priority; }
    // Kept only: a read receipt needs a sender address, and these messages carry none.
    void setReceipt(bool receipt) { m_receipt = receipt; }
    bool receipt() const { return m_receipt; }

    // The three lists joined with the list delimiter, paired by position; a pair without a name
    // or data is dropped, and an item is binary exactly when it is "1".
    void setAttachmentLists(const QString &names, const QString &data, const QString &isBinary);
    QList<Attachment> attachments() const { return m_attachments; }

    // The unsent message, UTF-8 with CR LF line ends, dated now.
    QByteArray mimeText(const QDateTime &now = QDateTime::currentDateTime()) const;
    // The argument of the client's "-compose" switch; attachmentPaths are the written files.
    QString composeArgument(const QStringList &attachmentPaths) const;

    // A ";"-separated list without its blank items; a text without separator stays as it is.
    static QString addressList(const QString &text);
    // The last path component of name, without control characters; null when nothing of a
    // file name is left.
    static QString fileNameOnly(const QString &name);
    // Quoted-printable with CR LF kept as hard line breaks and lines of at most 76 characters.
    static QByteArray quotedPrintable(const QByteArray &bytes);

private:
    static QString withoutLineBreaks(QString text);
    static QString commaSeparated(QString list)
    {
        return list.replace(QLatin1Char(';'), QLatin1Char(','));
    }

    QString m_folder;
    QString m_to;
    QString m_cc;
    QString m_bcc;
    QString m_subject;
    QString m_message;
    bool m_isHTML = false;
    MailPriority m_priority = Normal;
    bool m_receipt = false;
    QList<Attachment> m_attachments;
};
