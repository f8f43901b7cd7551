// Whether a TLS server's certificate may be believed: its chain must end at a root the
// system trusts, or at one of the certificates in the trust file beside the module, and it
// must be issued for the host name we connected to and valid today.
#pragma once

#include "tls_stream_win.h"

#include <wincrypt.h>

#include <string>

namespace qx {

// kNone when the certificate (with the intermediates the server sent in its store) passes.
TlsFailure CheckServerCertificate(PCCERT_CONTEXT certificate, const std::wstring& hostName,
                                  const std::string& trustFile);

}  // namespace qx
