#include "socket_win.h"

#include <atomic>

namespace qx {

namespace {
constexpr size_t kSendPiece = 1024;
// A peer that stops reading must not hold a send for ever.
constexpr DWORD kSendTimeoutMs = 30000;
std::atomic<uint64_t> g_bytesSent{0};
}  // namespace

uint64_t SocketBytesSent() { return g_bytesSent.load(); }

WinsockScope::WinsockScope(WORD version) {
  WSADATA data;
  ok_ = WSAStartup(version, &data) == 0;
}

WinsockScope::~WinsockScope() {
  if (ok_) WSACleanup();
}

void SocketHandle::Close() {
  if (socket_ != INVALID_SOCKET) closesocket(socket_);
  socket_ = INVALID_SOCKET;
}

bool ResolveIpv4(const std::string& host, in_addr& address) {
  if (host.empty()) return false;
  const unsigned long dotted = inet_addr(host.c_str());
  if (dotted != INADDR_NONE) {
    address.s_addr = dotted;
    return true;
  }
  const hostent* entry = gethostbyname(host.c_str());
  if (entry == nullptr || entry->h_addrtype != AF_INET || entry->h_addr_list == nullptr ||
      entry->h_addr_list[0] == nullptr) {
    return false;
  }
  memcpy(&address, entry->h_addr_list[0], sizeof address);
  return true;
}

bool ConnectTcp(SocketHandle& socket, const in_addr& address, uint16_t port, uint32_t timeoutMs) {
  socket.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  if (!socket.valid()) return false;
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(port);
  target.sin_addr = address;
  // Connect without blocking so that an unanswered attempt ends after our own time-out,
  // then go back to blocking mode for the dialogue.
  u_long nonBlocking = 1;
  if (ioctlsocket(socket.get(), FIONBIO, &nonBlocking) != 0) return false;
  if (connect(socket.get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0 &&
      WSAGetLastError() != WSAEWOULDBLOCK) {
    return false;
  }
  fd_set writable, failed;
  FD_ZERO(&writable);
  FD_ZERO(&failed);
  FD_SET(socket.get(), &writable);
  FD_SET(socket.get(), &failed);
  timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
  if (select(0, nullptr, &writable, &failed, &wait) != 1 || !FD_ISSET(socket.get(), &writable)) {
    return false;
  }
  int error = 0;
  int length = sizeof error;
  if (getsockopt(socket.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 ||
      error != 0) {
    return false;
  }
  u_long blocking = 0;
  if (ioctlsocket(socket.get(), FIONBIO, &blocking) != 0) return false;
  const DWORD sendTimeout = kSendTimeoutMs;
  setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&sendTimeout),
             sizeof sendTimeout);
  return true;
}

bool SendAll(SOCKET s, const void* data, size_t size) {
  const char* at = static_cast<const char*>(data);
  while (size > 0) {
    const int piece = static_cast<int>(size < kSendPiece ? size : kSendPiece);
    const int sent = send(s, at, piece, 0);
    if (sent <= 0) return false;
    g_bytesSent += static_cast<uint64_t>(sent);
    at += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

int WaitReadable(SOCKET s, uint32_t timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval wait{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
  const int ready = select(0, &readable, nullptr, nullptr, &wait);
  if (ready < 0) return -1;
  return ready > 0 ? 1 : 0;
}

int ReceiveSome(SOCKET s, char* buffer, size_t capacity, uint32_t timeoutMs) {
  if (WaitReadable(s, timeoutMs) != 1) return -1;
  const int received = recv(s, buffer, static_cast<int>(capacity), 0);
  return received < 0 ? -1 : received;
}

}  // namespace qx
