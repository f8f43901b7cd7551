#include "tls_stream_win.h"

#include <cstring>

#include "certificate_check_win.h"
#include "settings_open_win.h"
#include "socket_win.h"

namespace qx {

namespace {

// Room for a server's whole certificate chain in one handshake flight, and more than one
// record (16 KB and its overhead) afterwards.
constexpr size_t kIncomingBytes = 64 * 1024;
// A handshake that needs more rounds than this is not one we take part in.
constexpr int kMaxHandshakeRounds = 32;
constexpr DWORD kContextRequest = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                                  ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM;

std::wstring Widened(const std::string& text) {
  std::wstring wide;
  for (unsigned char c : text) wide.push_back(static_cast<wchar_t>(c));
  return wide;
}

// Sends and frees a token InitializeSecurityContext produced.
bool SendToken(SOCKET s, SecBuffer& token) {
  bool sent = true;
  if (token.pvBuffer != nullptr) {
    if (token.cbBuffer > 0) sent = SendAll(s, token.pvBuffer, token.cbBuffer);
    FreeContextBuffer(token.pvBuffer);
    token.pvBuffer = nullptr;
  }
  return sent;
}

}  // namespace

std::string TrustFilePath() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(ReporterModule(), path, sizeof path);
  if (length == 0 || length >= sizeof path) return std::string();
  std::string text(path, length);
  const size_t slash = text.find_last_of("\\/");
  const size_t dot = text.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) text.resize(dot);
  return text + ".trust.pem";
}

TlsStream::TlsStream(SOCKET s) : socket_(s), incoming_(kIncomingBytes) {}

TlsStream::~TlsStream() {
  if (haveContext_) DeleteSecurityContext(&context_);
  if (haveCredentials_) FreeCredentialsHandle(&credentials_);
}

bool TlsStream::Open(const std::string& hostName, uint32_t timeoutMs) {
  SCHANNEL_CRED cred{};
  cred.dwVersion = SCHANNEL_CRED_VERSION;
  cred.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  // We check the certificate ourselves, so that the trust file's roots count too.
  cred.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  TimeStamp expiry;
  if (AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                &cred, nullptr, nullptr, &credentials_, &expiry) != SEC_E_OK) {
    failure_ = TlsFailure::kProvider;
    return false;
  }
  haveCredentials_ = true;
  const std::wstring host = Widened(hostName);
  if (!Handshake(host, timeoutMs)) {
    failure_ = TlsFailure::kHandshake;
    return false;
  }
  PCCERT_CONTEXT certificate = nullptr;
  if (QueryContextAttributesW(&context_, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &certificate) != SEC_E_OK) {
    failure_ = TlsFailure::kUntrusted;
    return false;
  }
  failure_ = CheckServerCertificate(certificate, host, TrustFilePath());
  CertFreeCertificateContext(certificate);
  if (failure_ != TlsFailure::kNone) return false;
  if (QueryContextAttributesW(&context_, SECPKG_ATTR_STREAM_SIZES, &sizes_) != SEC_E_OK ||
      sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer > kIncomingBytes) {
    failure_ = TlsFailure::kHandshake;
    return false;
  }
  outgoing_.resize(sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer);
  open_ = true;
  return true;
}

int TlsStream::ReadMore(uint32_t timeoutMs) {
  if (incomingUsed_ >= incoming_.size()) return -1;
  const int received = ReceiveSome(socket_, incoming_.data() + incomingUsed_, incoming_.size() - incomingUsed_,
                                   timeoutMs);
  if (received <= 0) return received;
  incomingUsed_ += static_cast<size_t>(received);
  return 1;
}

bool TlsStream::Handshake(const std::wstring& host, uint32_t timeoutMs) {
  wchar_t* target = const_cast<wchar_t*>(host.c_str());
  SecBuffer token{0, SECBUFFER_TOKEN, nullptr};
  SecBufferDesc tokenDesc{SECBUFFER_VERSION, 1, &token};
  ULONG attributes = 0;
  SECURITY_STATUS status = InitializeSecurityContextW(&credentials_, nullptr, target, kContextRequest, 0, 0,
                                                      nullptr, 0, &context_, &tokenDesc, &attributes, nullptr);
  if (status != SEC_I_CONTINUE_NEEDED) {
    if (token.pvBuffer != nullptr) FreeContextBuffer(token.pvBuffer);
    return false;
  }
  haveContext_ = true;
  if (!SendToken(socket_, token)) return false;
  bool needInput = true;
  for (int round = 0; round < kMaxHandshakeRounds; ++round) {
    if (needInput && ReadMore(timeoutMs) != 1) return false;
    SecBuffer input[2] = {{static_cast<ULONG>(incomingUsed_), SECBUFFER_TOKEN, incoming_.data()},
                          {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inputDesc{SECBUFFER_VERSION, 2, input};
    token = {0, SECBUFFER_TOKEN, nullptr};
    status = InitializeSecurityContextW(&credentials_, &context_, target, kContextRequest, 0, 0, &inputDesc, 0,
                                        nullptr, &tokenDesc, &attributes, nullptr);
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      needInput = true;
      continue;
    }
    // A failing status may carry an alert for the server; it is sent, the handshake ends.
    if (!SendToken(socket_, token)) return false;
    if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
      // The server asks for a client certificate; we have none to give and go on without
      // one, from the same input.
      needInput = false;
      continue;
    }
    if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED) return false;
    if (input[1].BufferType == SECBUFFER_EXTRA && input[1].cbBuffer > 0 && input[1].cbBuffer <= incomingUsed_) {
      memmove(incoming_.data(), incoming_.data() + incomingUsed_ - input[1].cbBuffer, input[1].cbBuffer);
      incomingUsed_ = input[1].cbBuffer;
    } else {
      incomingUsed_ = 0;
    }
    if (status == SEC_E_OK) return true;
    needInput = incomingUsed_ == 0;
  }
  return false;
}

bool TlsStream::Send(const void* data, size_t size) {
  if (!open_) return false;
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const size_t piece = size < sizes_.cbMaximumMessage ? size : sizes_.cbMaximumMessage;
    char* record = outgoing_.data();
    memcpy(record + sizes_.cbHeader, at, piece);
    SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, record},
                            {static_cast<ULONG>(piece), SECBUFFER_DATA, record + sizes_.cbHeader},
                            {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, record + sizes_.cbHeader + piece},
                            {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
    if (EncryptMessage(&context_, 0, &desc, 0) != SEC_E_OK) return false;
    if (!SendAll(socket_, record, buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer)) return false;
    at += piece;
    size -= piece;
  }
  return true;
}

// Decrypts the next record into plain_: 1 when it holds bytes, 0 when the peer closed,
// -1 on silence or error.
int TlsStream::DecryptNext(uint32_t timeoutMs) {
  for (;;) {
    SECURITY_STATUS status = SEC_E_INCOMPLETE_MESSAGE;
    SecBuffer buffers[4] = {{static_cast<ULONG>(incomingUsed_), SECBUFFER_DATA, incoming_.data()},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr},
                            {0, SECBUFFER_EMPTY, nullptr}};
    if (incomingUsed_ > 0) {
      SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
      status = DecryptMessage(&context_, &desc, 0, nullptr);
    }
    if (status == SEC_E_INCOMPLETE_MESSAGE) {
      const int more = ReadMore(timeoutMs);
      // A close between records is the end of the stream; one inside a record is not.
      if (more == 0) return incomingUsed_ == 0 ? 0 : -1;
      if (more < 0) return -1;
      continue;
    }
    if (status == SEC_I_CONTEXT_EXPIRED) return 0;
    if (status != SEC_E_OK) return -1;
    plain_.clear();
    plainAt_ = 0;
    const SecBuffer* extra = nullptr;
    for (const SecBuffer& b : buffers) {
      if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
        plain_.assign(static_cast<char*>(b.pvBuffer), static_cast<char*>(b.pvBuffer) + b.cbBuffer);
      }
      if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) extra = &b;
    }
    if (extra != nullptr && extra->cbBuffer <= incomingUsed_) {
      memmove(incoming_.data(), incoming_.data() + incomingUsed_ - extra->cbBuffer, extra->cbBuffer);
      incomingUsed_ = extra->cbBuffer;
    } else {
      incomingUsed_ = 0;
    }
    if (!plain_.empty()) return 1;
  }
}

int TlsStream::Receive(char* buffer, size_t capacity, uint32_t timeoutMs) {
  if (!open_ || capacity == 0) return -1;
  if (plainAt_ >= plain_.size()) {
    const int next = DecryptNext(timeoutMs);
    if (next <= 0) return next;
  }
  const size_t count = plain_.size() - plainAt_ < capacity ? plain_.size() - plainAt_ : capacity;
  memcpy(buffer, plain_.data() + plainAt_, count);
  plainAt_ += count;
  return static_cast<int>(count);
}

bool ConnectionStream::StartTls(const std::string& hostName, uint32_t timeoutMs) {
  std::unique_ptr<TlsStream> tls(new TlsStream(socket_));
  if (!tls->Open(hostName, timeoutMs)) {
    failure_ = tls->failure();
    return false;
  }
  tls_ = std::move(tls);
  return true;
}

bool ConnectionStream::Send(const void* data, size_t size) {
  if (failure_ != TlsFailure::kNone) return false;
  return tls_ != nullptr ? tls_->Send(data, size) : SendAll(socket_, data, size);
}

int ConnectionStream::Receive(char* buffer, size_t capacity, uint32_t timeoutMs) {
  if (failure_ != TlsFailure::kNone) return -1;
  return tls_ != nullptr ? tls_->Receive(buffer, capacity, timeoutMs) : ReceiveSome(socket_, buffer, capacity, timeoutMs);
}

}  // namespace qx
