#pragma once

#include "platform/corvidexport.h"

#include <QString>

// The wireless network this machine is connected to.
namespace WifiInfo {

// The name of the active wireless network; empty when there is none or when it cannot be told,
// never an error. On Linux NetworkManager answers over the system bus (the access point's SSID,
// else the connection's name), elsewhere the toolkit's bearer management. Blocks for at most
// about two seconds when the answer is slow.
CORVID_EXPORT QString connectionName();

} // namespace WifiInfo
