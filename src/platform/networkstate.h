#pragma once

#include "platform/corvidexport.h"

// Whether this machine has a network connection.
namespace NetworkState {

// True when an interface other than the loopback is up and running with an address. The
// toolkit's bearer management, which answered this before, is deprecated and absent from its
// successors, so the interfaces are asked directly.
CORVID_EXPORT bool isOnline();

} // namespace NetworkState
