// TLS over one of the channels' blocking sockets, through the system's own provider
// (Schannel): TLS 1.2, every wait bounded like the plain socket's, buffers of fixed bounds.
// The server's certificate is checked against the system's trust store and the host name;
// a certificate in the trust file beside the module counts as a trusted root as well.
// Nothing turns the check off.
#pragma once

#include <winsock2.h>
#include <windows.h>
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>
#include <schannel.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qx {

enum class TlsFailure {
  kNone,
  kProvider,     // no credentials from Schannel
  kHandshake,    // the handshake failed or the peer went silent
  kUntrusted,    // the certificate chain ends at no trusted root
  kWrongName,    // trusted, but not issued for the host we connected to
  kCertificate,  // otherwise invalid: expired, revoked, wrong usage
};

class TlsStream {
 public:
  explicit TlsStream(SOCKET s);
  ~TlsStream();
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  // Handshake for `hostName` (a name or dotted address) and validation of the server's
  // certificate; every read waits at most `timeoutMs`.
  bool Open(const std::string& hostName, uint32_t timeoutMs);
  // Encrypts and sends the whole buffer.
  bool Send(const void* data, size_t size);
  // Up to `capacity` decrypted bytes: the count, 0 when the peer closed, -1 on silence for
  // `timeoutMs` or an error.
  int Receive(char* buffer, size_t capacity, uint32_t timeoutMs);
  TlsFailure failure() const { return failure_; }

 private:
  bool Handshake(const std::wstring& host, uint32_t timeoutMs);
  int ReadMore(uint32_t timeoutMs);  // 1 more bytes, 0 the peer closed, -1 silence, error, full
  int DecryptNext(uint32_t timeoutMs);

  SOCKET socket_;
  CredHandle credentials_{};
  CtxtHandle context_{};
  bool haveCredentials_ = false;
  bool haveContext_ = false;
  bool open_ = false;
  SecPkgContext_StreamSizes sizes_{};
  std::vector<char> incoming_;  // received, not yet decrypted
  size_t incomingUsed_ = 0;
  std::vector<char> plain_;  // decrypted, not yet handed over
  size_t plainAt_ = 0;
  std::vector<char> outgoing_;
  TlsFailure failure_ = TlsFailure::kNone;
};

// The file whose certificates are trusted in addition to the system's: the module's own
// path with ".trust.pem" for its extension (QXUdfLib.trust.pem beside QXUdfLib.dll).
std::string TrustFilePath();

// The bytes of one connection: plain, or through TLS once StartTls has succeeded. After a
// failed StartTls nothing more is sent or received: never in clear what was meant to be
// encrypted.
class ConnectionStream {
 public:
  explicit ConnectionStream(SOCKET s) : socket_(s) {}
  bool StartTls(const std::string& hostName, uint32_t timeoutMs);
  bool Send(const void* data, size_t size);
  bool Send(const std::string& text) { return Send(text.data(), text.size()); }
  int Receive(char* buffer, size_t capacity, uint32_t timeoutMs);
  bool encrypted() const { return tls_ != nullptr; }
  TlsFailure tlsFailure() const { return failure_; }

 private:
  SOCKET socket_;
  std::unique_ptr<TlsStream> tls_;
  TlsFailure failure_ = TlsFailure::kNone;
};

}  // namespace qx
