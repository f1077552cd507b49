#include "net/downloader.h"

#include "config/appconfig.h"
#include "net/replyrelease.h"
#include "platform/prompter.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QRandomGenerator>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Per-mille, so that files past 2 GiB fit the dialog's int range.
constexpr int ProgressSteps = 1000;
// The most the reply holds unread, so that a network faster than the disk does not pile the
// body up in memory.
constexpr int ReadBufferSize = 1 << 20;
// Bodies are written in pieces of this size. Writes of 1 MiB ran at a third of the speed now
// and then: the page cache then takes large pages, whose allocation can stall.
constexpr int WriteSize = 64 * 1024;

QString conflictTitle()
{
    return QStringLiteral("Download Conflict");
}

QString errorTitle()
{
    return QStringLiteral("Download Error");
}

QString sizeText(qint64 bytes)
{
    return QLocale().formattedDataSize(bytes, 1);
}

} // namespace

// The body of a download as it arrives, in a file of its own beside the target. Only commit()
// puts it in the target's place; otherwise it is removed when this object goes.
class Downloader::PartFile
{
public:
    explicit PartFile(const QString &targetPath)
        : m_targetPath(targetPath)
    {
    }

    ~PartFile()
    {
        if (m_file.fileName().isEmpty() || m_committed)
            return;
        m_file.close();
        QFile::remove(m_file.fileName());
    }

    bool open()
    {
        const QString directory = QFileInfo(m_targetPath).absolutePath();
        for (int attempt = 0; attempt < 8; ++attempt) {
            m_file.setFileName(directory + QStringLiteral("/.download-")
                               + QString::number(QRandomGenerator::global()->generate64(), 36)
                               + QStringLiteral(".part"));
            // NewOnly creates the file or fails: a link or file slipped in under this name is
            // never opened, let alone written through.
            if (m_file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
                return true;
            if (QFileInfo(m_file.fileName()).exists() || QFileInfo(m_file.fileName()).isSymLink())
                continue;
            break;
        }
        m_error = m_file.errorString();
        m_file.setFileName(QString());
        return false;
    }

    bool write(const char *data, qint64 size)
    {
        // A short write sets no error; the next one tells why it stopped.
        while (size > 0) {
            const qint64 written = m_file.write(data, size);
            if (written <= 0) {
                m_error = m_file.errorString();
                return false;
            }
            data += written;
            size -= written;
        }
        return true;
    }

    // Puts the file in the target's place in one step. A link at the target is replaced
    // itself; the file it points to is never touched.
    bool commit()
    {
        m_file.close();
        if (m_file.error() != QFileDevice::NoError) {
            m_error = m_file.errorString();
            return false;
        }
#ifdef Q_OS_UNIX
        if (std::rename(QFile::encodeName(m_file.fileName()).constData(),
                        QFile::encodeName(m_targetPath).constData())
            != 0) {
            m_error = qt_error_string(errno);
            return false;
        }
#else
        const QFileInfo target(m_targetPath);
        if ((target.exists() || target.isSymLink()) && !QFile::remove(m_targetPath)) {
            m_error = QStringLiteral("the existing file cannot be replaced");
            return false;
        }
        if (!m_file.rename(m_targetPath)) {
            m_error = m_file.errorString();
            return false;
        }
#endif
        m_committed = true;
        return true;
    }

    QString errorString() const
    {
        return m_error;
    }

private:
    QString m_targetPath;
    QFile m_file;
    QString m_error;
    bool m_committed = false;
};

Downloader::Downloader(QNetworkAccessManager *network, QWidget *dialogParent, QObject *parent)
    : QObject(parent)
    , m_network(network)
    , m_dialogParent(dialogParent)
{
}

Downloader::~Downloader()
{
    releaseReply(m_reply, this);
    delete m_dialog;
}

bool Downloader::isActive() const
{
    return m_busy;
}

bool Downloader::start(const QNetworkRequest &request, const DownloadOptions &options)
{
    // The running download goes on untouched; only this request is refused.
    if (m_busy) {
        if (!options.silent) {
            Prompter::current().warning(
                m_dialogParent, conflictTitle(),
                QStringLiteral(
                    "Sorry, Only One 1 File Download At A Time Is Presently Supported!"));
        }
        emit finished(false, QString(), QString());
        return false;
    }
    m_busy = true;
    m_silent = options.silent;
    if (!openTarget(request, options)) {
        m_busy = false;
        emit finished(false, QString(), QString());
        return false;
    }
    m_callbackFunc = options.callbackFunc;
    if (!m_silent)
        showDialog();

    QNetworkRequest get(request);
    // A redirect is followed (never to a less safe scheme) rather than saved as the file.
    get.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                     QNetworkRequest::NoLessSafeRedirectPolicy);
    // The body goes to disk once, not into the network cache as well.
    get.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    m_received = 0;
    m_reply = m_network->get(get);
    m_reply->setReadBufferSize(ReadBufferSize);
    connect(m_reply, &QNetworkReply::downloadProgress, this, &Downloader::showProgress);
    connect(m_reply, &QNetworkReply::readyRead, this, &Downloader::readBody);
    connect(m_reply, &QNetworkReply::finished, this, &Downloader::transferFinished);
    connect(m_reply, &QNetworkReply::errorOccurred, this, &Downloader::transferError);
    return true;
}

bool Downloader::openTarget(const QNetworkRequest &request, const DownloadOptions &options)
{
    QString name = options.fileName;
    if (name.isEmpty())
        name = QFileInfo(request.url().path()).fileName();
    // "." and ".." name the folder itself or its parent, not a file in it.
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;

    const QString directory = targetDirectory(options.directory);
    if (directory.isEmpty())
        return false;
    QString path = QDir(directory).absoluteFilePath(name);

    if (options.userSelectsPath && !m_silent) {
        const QString answer
            = Prompter::current().saveFileName(m_dialogParent, QStringLiteral("Save File As"), path,
                                               QString(), options.overwritePrompt);
        if (answer.isEmpty())
            return false;
        path = QFileInfo(answer).absoluteFilePath();
        name = QFileInfo(path).fileName();
    } else {
        const QFileInfo existing(path);
        if ((existing.exists() || existing.isSymLink()) && options.overwritePrompt && !m_silent
            && Prompter::current().question(
                   m_dialogParent, QStringLiteral("Confirm Save As"),
                   name + QStringLiteral(" Already Exists.\nDo You Want To Replace It?"),
                   QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                != QMessageBox::Yes)
            return false;
    }

    // An existing file is replaced only once the new one is complete (see PartFile::commit).
    const QFileInfo target(path);
    auto part = std::make_unique<PartFile>(path);
    QString openError;
    if (target.isDir() && !target.isSymLink())
        openError = QString::fromLocal8Bit(std::strerror(EISDIR));
    else if (!part->open())
        openError = part->errorString();
    if (!openError.isEmpty()) {
        warn(errorTitle(), QStringLiteral("Unable to save the file %1: %2.").arg(path, openError));
        return false;
    }
    m_part = std::move(part);
    m_name = name;
    m_targetPath = path;
    return true;
}

QString Downloader::targetDirectory(const QString &directory)
{
    // A folder the caller names is used as it is: it is never created.
    if (QDir(directory).path() != QLatin1String("."))
        return QDir(directory).absolutePath();
    const QString folder = m_downloadsFolder.isEmpty()
        ? AppConfig::dataPath(AppConfig::downloadsDirName())
        : m_downloadsFolder;
    if (QFileInfo(folder).isDir() || QDir().mkpath(folder))
        return QDir(folder).absolutePath();
    warn(errorTitle(), QStringLiteral("The Downloads Folder Is Missing & Could Not Be Created!"));
    return QString();
}

void Downloader::showDialog()
{
    // Made only when first needed: a progress dialog shows itself some time after it is made.
    if (!m_dialog) {
        m_dialog = new QProgressDialog(m_dialogParent);
        m_dialog->setWindowTitle(QStringLiteral("Download"));
        m_dialog->setAutoReset(false);
        m_dialog->setAutoClose(false);
        connect(m_dialog, &QProgressDialog::canceled, this, &Downloader::cancel);
    }
    m_dialog->setRange(0, 0);
    m_dialog->setLabelText(QStringLiteral("Downloading: %1").arg(m_name));
    m_dialog->show();
}

void Downloader::cancel()
{
    if (m_part)
        finish(false);
}

void Downloader::showProgress(qint64 bytesRead, qint64 totalBytes)
{
    if (!m_part || m_silent || !m_dialog)
        return;
    QString label = QStringLiteral("Downloading: %1\n").arg(m_name) + sizeText(bytesRead);
    if (totalBytes > 0) {
        label += QStringLiteral(" of ") + sizeText(totalBytes);
        m_dialog->setRange(0, ProgressSteps);
        m_dialog->setValue(
            int(qBound<qint64>(0, bytesRead * ProgressSteps / totalBytes, ProgressSteps)));
    } else {
        m_dialog->setRange(0, 0);
    }
    if (m_dialog->labelText() != label)
        m_dialog->setLabelText(label);
}

void Downloader::readBody()
{
    if (!m_part)
        return;
    if (m_buffer.size() != WriteSize)
        m_buffer.resize(WriteSize);
    qint64 count;
    while ((count = m_reply->read(m_buffer.data(), m_buffer.size())) > 0) {
        if (!m_part->write(m_buffer.constData(), count)) {
            failWrite(m_part->errorString());
            return;
        }
        m_received += count;
    }
}

void Downloader::transferFinished()
{
    if (!m_part)
        return;
    if (m_reply->error() != QNetworkReply::NoError) {
        transferError(m_reply->error());
        return;
    }
    readBody();
    if (!m_part)
        return;
    // A final answer other than 2xx without a network error (300 with no address, say) is no
    // file either.
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() / 100 != 2) {
        transferError(QNetworkReply::UnknownContentError);
        return;
    }
    // A connection that closes early can end without an error; fewer bytes than announced are
    // a broken transfer, not the file. (A compressed transfer announces its compressed size.)
    const QVariant length = m_reply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && !m_reply->hasRawHeader("Content-Encoding")
        && m_received != length.toLongLong()) {
        transferError(QNetworkReply::RemoteHostClosedError);
        return;
    }
    finish(true);
}

void Downloader::transferError(QNetworkReply::NetworkError code)
{
    if (!m_part)
        return;
    stopListening();
    warn(errorTitle(), QStringLiteral("Error #: ") + QString::number(int(code)));
    finish(false);
}

void Downloader::failWrite(const QString &reason)
{
    stopListening();
    warn(errorTitle(), QStringLiteral("Unable to save the file %1: %2.").arg(m_targetPath, reason));
    finish(false);
}

void Downloader::stopListening()
{
    // A box runs an event loop: the reply's further data and its ending must not come back in
    // while it is open.
    if (m_reply)
        m_reply->disconnect(this);
}

void Downloader::finish(bool success)
{
    if (m_dialog && !m_silent) {
        m_dialog->hide();
        // Also stops the dialog's own timer, which would otherwise show it again later.
        m_dialog->reset();
    }
    releaseReply(m_reply, this);
    std::unique_ptr<PartFile> part = std::move(m_part);
    const QString path = m_targetPath;
    const QString name = m_name;
    const QString callbackFunc = m_callbackFunc;
    m_targetPath.clear();
    m_name.clear();
    m_callbackFunc.clear();
    const bool committed = success && part->commit();
    const QString commitError = success && !committed ? part->errorString() : QString();
    part.reset();
    const bool silent = m_silent;
    // Idle before any box: a box runs an event loop, in which a new download may start.
    m_busy = false;

    if (!commitError.isEmpty() && !silent)
        Prompter::current().warning(
            m_dialogParent, errorTitle(),
            QStringLiteral("Unable to save the file %1: %2.").arg(path, commitError));
    else if (committed && !silent)
        Prompter::current().information(m_dialogParent, QStringLiteral("Download Completed"),
                                        name + QStringLiteral(" Has Finished Downloading."));
    emit finished(committed, committed ? path : QString(), callbackFunc);
}

void Downloader::warn(const QString &title, const QString &text) const
{
    if (!m_silent)
        Prompter::current().warning(m_dialogParent, title, text);
}
