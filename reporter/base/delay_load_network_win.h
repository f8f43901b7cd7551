// The stand-ins of the libraries only sending a report needs (Winsock, the security
// support provider interface, the certificate store), kept apart from the window and list
// libraries' ones in delay_load_win.cpp, which asks here for the routines it has none for.
#pragma once

#include <windows.h>

namespace qx {

// The stand-in of a Winsock, SSPI or crypt32 routine, or null.
void* NetworkDelayLoadStandIn(const char* routine);

// Sets the last error every stand-in reports (the failed library's or routine's).
void FailDelayLoadedCall();

}  // namespace qx
