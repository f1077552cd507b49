#pragma once

#include "platform/corvidexport.h"

#include <QString>

// Opens local files with the application the system associates with their type. Tests install
// their own opener with setCurrent so that nothing is launched.
class CORVID_EXPORT SystemOpener
{
public:
    virtual ~SystemOpener() = default;

    // The opener in use; never null.
    static SystemOpener &current();
    // Replaces the opener in use (null restores the system's); the caller keeps ownership.
    static void setCurrent(SystemOpener *opener);

    // True when the system accepted the file for opening.
    virtual bool openWithAssociatedApplication(const QString &path);
};
