#pragma once

#include "platform/corvidexport.h"

#include <QString>
#include <QUrl>

// Builders of the script the shell evaluates in page frames. Each returns text and has no side
// effects; every value inserted into a string literal is escaped.
class CORVID_EXPORT ScriptRuntime final
{
public:
    struct HostInfo
    {
        int platform = 0;
        float versionNumber = 0;
        QString versionName;
    };
    struct Folders
    {
        QString storage;
        QString temp;
        QString documents;
        QString desktop;
        QString logFile;
    };

    // Pieces 1 to 3: view kind, platform and platform version.
    static QString platformConstants(const HostInfo &host);
    static QString folderGlobals();
    static QString apiGlobalsFunction(const Folders &folders);
    static QString frameRuntime(const HostInfo &host);
    static QString mainFrameGlobals(const QUrl &fullOnLoadUrl, const HostInfo &host,
                                    const Folders &folders);
    static QString frameClickScript();
    static QString topReceiverScript();
    static QString credentialsScript(const QString &user, const QString &password);
    static QString formWatchScript(const QString &formName, const QString &elementName);
    static QString popupPostScript();
    // The hosts whose frames the container page may hand the access key to.
    static QString trustedHostsScript(const QStringList &hosts);
    static QString frameIdentityScript(uint id, const QUrl &frameUrl, int parentId,
                                       const QUrl &parentUrl);

    // A folder as the page sees it: forward slashes, one trailing slash, escaped.
    static QString pageFolder(const QString &path);
    // A file as the page sees it: forward slashes, escaped; a trailing slash would make it a
    // name no call can open.
    static QString pageFile(const QString &path);
    // The version number in general format with six significant digits (3.1, 4, 6.2, 10).
    static QString versionText(float number);
};
