#include "net/sslverifier.h"

#include "net/replyrelease.h"

#include "net/sourcefetcher.h"

#include <QFile>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <utility>

SslVerifier::SslVerifier(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_network(network)
{
}

SslVerifier::~SslVerifier()
{
    releaseReply(m_reply, this);
}

void SslVerifier::verify(const QString &addressText)
{
    releaseReply(m_reply, this);
    m_addressText = addressText;
    m_bodyBytes = 0;
    if (!m_connections)
        m_connections = new QNetworkAccessManager(this);
    if (m_network)
        m_connections->setProxy(m_network->proxy());
    // A connection kept from before would skip the handshake, and with it the certificate check.
    m_connections->clearAccessCache();
    m_reply = m_connections->get(QNetworkRequest(QUrl(httpsAddress(addressText))));
    connect(m_reply, &QNetworkReply::readyRead, this, &SslVerifier::discardBody);
    connect(m_reply, &QNetworkReply::finished, this, &SslVerifier::replyFinished);
    connect(m_reply, &QNetworkReply::sslErrors, this, &SslVerifier::replySslErrors);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &SslVerifier::replyError);
}

QString SslVerifier::httpsAddress(const QString &text)
{
    if (text.startsWith(QLatin1String("https://")))
        return text;
    return QStringLiteral("https://")
        + (text.startsWith(QLatin1String("http://")) ? text.mid(7) : text);
}

QString SslVerifier::httpAddress(const QString &text)
{
    if (text.startsWith(QLatin1String("http://")))
        return text;
    return QStringLiteral("http://")
        + (text.startsWith(QLatin1String("https://")) ? text.mid(8) : text);
}

bool SslVerifier::installCertificate(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    QSslCertificate certificate(data, QSsl::Der);
    if (certificate.isNull())
        certificate = QSslCertificate(data, QSsl::Pem);
    if (certificate.isNull())
        return false;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    QList<QSslCertificate> authorities = configuration.caCertificates();
    // An empty list means the system's roots, loaded on demand; a list set here replaces them,
    // so they are copied in first, or every other site would stop verifying.
    if (authorities.isEmpty())
        authorities = QSslConfiguration::systemCaCertificates();
    if (!authorities.contains(certificate))
        authorities.append(certificate);
    configuration.setCaCertificates(authorities);
    QSslConfiguration::setDefaultConfiguration(configuration);
    return true;
}

void SslVerifier::discardBody()
{
    // Only whether a body came matters; dropping it keeps a large answer out of memory.
    m_bodyBytes += m_reply->skip(m_reply->bytesAvailable());
}

void SslVerifier::replyFinished()
{
    discardBody();
    end(m_bodyBytes > 0, QString());
}

void SslVerifier::replySslErrors(const QList<QSslError> &errors)
{
    end(false, SourceFetcher::sslErrorDetail(errors));
}

void SslVerifier::replyError(QNetworkReply::NetworkError code)
{
    end(false, SourceFetcher::networkErrorDetail(code));
}

void SslVerifier::end(bool verified, const QString &detail)
{
    if (!m_reply)
        return;
    releaseReply(m_reply, this);
    const QString address = std::exchange(m_addressText, QString());
    if (verified)
        emit finished(true, QString());
    else
        emit finished(false,
                      QStringLiteral("SSL cannot be verified for this url: ") + address
                          + (detail.isEmpty() ? QString() : QStringLiteral(". ") + detail));
}
