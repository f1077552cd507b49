#pragma once

#include "platform/corvidexport.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QString>
#include <memory>

class QNetworkAccessManager;
class QNetworkRequest;
class QWidget;

// How one download is carried out.
struct DownloadOptions
{
    bool silent = false; // no dialogs or message boxes
    bool overwritePrompt = true; // ask before replacing an existing file
    bool userSelectsPath = true; // a save dialog chooses the target
    QString directory; // empty: the downloads folder, made when missing
    QString fileName; // empty: the last part of the address
    QString callbackFunc; // handed back with the outcome
};

// Saves one file from the network at a time. The body streams to a file beside the target,
// which replaces the target only when the transfer is complete; a failed or cancelled download
// leaves no partial file and an existing file as it was. Boxes go through the prompter.
class CORVID_EXPORT Downloader : public QObject
{
    Q_OBJECT

public:
    // Downloads through network (which must outlive the downloader); boxes and the progress
    // dialog sit over dialogParent.
    Downloader(QNetworkAccessManager *network, QWidget *dialogParent, QObject *parent = nullptr);
    ~Downloader() override;

    // Starts a download. False when it was refused or failed before the transfer began (the
    // reason is shown unless silent); finished() then carries an empty callbackFunc.
    bool start(const QNetworkRequest &request, const DownloadOptions &options);
    // From start() to finished(), the save dialog and questions before the transfer included.
    bool isActive() const;
    // Where downloads go when no directory is given; AppConfig's "downloads" folder by default.
    void setDownloadsFolder(const QString &path) { m_downloadsFolder = path; }
    // The progress dialog of the current or last download; null before the first shown one.
    QProgressDialog *progressDialog() const { return m_dialog; }

public slots:
    // Cancels the running download at once: the transfer is aborted and the download fails.
    void cancel();

signals:
    // The end of every download. path is the saved file's absolute path on success and empty
    // otherwise; callbackFunc is empty for downloads that ended before their file was open.
    void finished(bool success, const QString &path, const QString &callbackFunc);

private slots:
    void showProgress(qint64 bytesRead, qint64 totalBytes);
    void readBody();
    void transferFinished();
    void transferError(QNetworkReply::NetworkError code);

private:
    class PartFile;

    bool openTarget(const QNetworkRequest &request, const DownloadOptions &options);
    QString targetDirectory(const QString &directory);
    void showDialog();
    void failWrite(const QString &reason);
    void stopListening();
    void finish(bool success);
    void warn(const QString &title, const QString &text) const;

    QNetworkAccessManager *m_network;
    QWidget *m_dialogParent;
    QPointer<QProgressDialog> m_dialog;
    // Non-null exactly while a transfer runs.
    std::unique_ptr<PartFile> m_part;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_buffer;
    QString m_downloadsFolder;
    QString m_name;
    QString m_targetPath;
    QString m_callbackFunc;
    bool m_silent = false;
    // From the start request to finished(): the save dialog and boxes before the transfer run
    // an event loop, in which another start request must be refused as well.
    bool m_busy = false;
    // Body bytes written for the running transfer.
    qint64 m_received = 0;
};
