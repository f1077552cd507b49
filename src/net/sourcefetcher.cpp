#include "net/sourcefetcher.h"

#include "net/replyrelease.h"

#include <QHostAddress>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QSslCertificate>

namespace {

constexpr int FetchFailed = 1001;

} // namespace

SourceFetcher::SourceFetcher(QObject *parent)
    : QObject(parent)
{
}

SourceFetcher::~SourceFetcher()
{
    releaseReply(m_reply, this);
}

void SourceFetcher::fetch(const QUrl &url)
{
    // The earlier reply goes first, so that none of its data or its ending mixes into this fetch.
    releaseReply(m_reply, this);
    m_body.clear();
    // Made on first use rather than with the fetcher, to keep it off the start-up path.
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    // Every fetch starts afresh: no connection or credentials of an earlier one are reused.
    m_network->clearAccessCache();
    QNetworkRequest request(url);
    request.setRawHeader("User-Agent", "Custom WebView");
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::NoLessSafeRedirectPolicy);
    m_reply = m_network->get(request);
    connect(m_reply, &QNetworkReply::readyRead, this, &SourceFetcher::readBody);
    connect(m_reply, &QNetworkReply::finished, this, &SourceFetcher::replyFinished);
    connect(m_reply, &QNetworkReply::sslErrors, this, &SourceFetcher::replySslErrors);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &SourceFetcher::replyError);
}

bool SourceFetcher::needsNetwork(const QUrl &url)
{
    if (url.isLocalFile())
        return false;
    const QString host = url.host();
    return host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) != 0
        && !QHostAddress(host).isLoopback();
}

QString SourceFetcher::decodeBody(const QByteArray &body, const QString &contentType)
{
    const int zero = body.indexOf('\0');
    const QByteArray text = zero < 0 ? body : body.left(zero);
    if (contentType.contains(QLatin1String("charset=utf-8"), Qt::CaseInsensitive))
        return QString::fromUtf8(text);
    if (contentType.contains(QLatin1String("charset=ISO-8859-1"), Qt::CaseInsensitive))
        return QString::fromLatin1(text);
    if (contentType.contains(QLatin1String("text/html"), Qt::CaseInsensitive))
        return QString::fromUtf8(text);
    return QString();
}

QString SourceFetcher::networkErrorDetail(QNetworkReply::NetworkError code)
{
    return QStringLiteral(" Error Details: QNetworkReply::NetworkError #")
        + QString::number(int(code));
}

QString SourceFetcher::sslErrorDetail(const QList<QSslError> &errors)
{
    if (errors.isEmpty())
        return QString();
    QString detail = QStringLiteral(" SSL Error Details: ");
    for (const QSslError &error : errors) {
        const QStringList names = error.certificate().subjectInfo(QSslCertificate::CommonName);
        detail += error.errorString() + QLatin1String(" (Common Name: ") + names.value(0)
            + QLatin1String(") ");
    }
    return detail;
}

void SourceFetcher::readBody()
{
    // Refused as soon as the announced length or the running total passes the cap, so that at
    // most one network read beyond it is ever held.
    const qint64 announced = m_reply->header(QNetworkRequest::ContentLengthHeader).toLongLong();
    if (announced > MaxBodySize || m_body.size() + m_reply->bytesAvailable() > MaxBodySize) {
        end(CallResult::failure(FetchFailed,
                                QStringLiteral("The source is larger than the 64 MiB limit.")));
        return;
    }
    m_body += m_reply->readAll();
}

void SourceFetcher::replyFinished()
{
    if (m_reply->bytesAvailable() > 0)
        readBody();
    if (!m_reply)
        return;
    if (m_body.isEmpty()) {
        end(CallResult::failure(FetchFailed, QStringLiteral("No source returned.")));
        return;
    }
    const QString contentType = QString::fromLatin1(m_reply->rawHeader("Content-Type"));
    // Local files come without a Content-Type; the shell reads its text files as UTF-8.
    const bool untypedFile = contentType.isEmpty() && m_reply->url().isLocalFile();
    const QString text
        = decodeBody(m_body, untypedFile ? QStringLiteral("charset=utf-8") : contentType);
    if (!text.isEmpty()) {
        end(CallResult::ok(text));
        return;
    }
    end(CallResult::failure(
        FetchFailed,
        QStringLiteral("Could not convert the reply to a string. Content Type: ")
            + (contentType.isEmpty() ? QStringLiteral("UNKNOWN") : contentType)));
}

void SourceFetcher::replySslErrors(const QList<QSslError> &errors)
{
    end(CallResult::failure(FetchFailed, sslErrorDetail(errors)));
}

void SourceFetcher::replyError(QNetworkReply::NetworkError code)
{
    end(CallResult::failure(FetchFailed, networkErrorDetail(code)));
}

void SourceFetcher::end(const CallResult &result)
{
    releaseReply(m_reply, this);
    m_body.clear();
    m_body.squeeze();
    emit finished(result);
}
