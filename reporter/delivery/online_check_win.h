// Whether the machine is online: an ICMP echo to a well-known host, and when allowed a dial-up
// attempt before a second echo.
#pragma once

#include <string>

namespace qx {

// True at once while the online check is switched off (the default).
bool IsOnline(bool tryToDial);

// One ICMP echo request to `host`; true when the matching reply comes within the echo
// time-out. Needs a raw socket: without one it is false.
bool EchoProbe(const std::string& host);

}  // namespace qx
