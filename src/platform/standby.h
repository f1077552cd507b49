#pragma once

#include "platform/corvidexport.h"

// Keeps the machine and its display awake while the page wants it. On Linux this is the
// session's screen-saver inhibition over D-Bus (org.freedesktop.ScreenSaver); at most one is
// held, and it is released when stand-by is enabled again and when the process ends. On
// Windows it is the thread's execution state.
namespace StandBy {

// enable false keeps the system and display on; true lets them sleep again. False when the
// system refused or could not be reached (no session bus, no screen-saver service).
CORVID_EXPORT bool setEnabled(bool enable);
// Whether an inhibition is held now.
CORVID_EXPORT bool isInhibited();

} // namespace StandBy
