// Windows Sockets as the network channels use them: blocking sockets whose every wait is
// bounded by a select time-out, and sends that go on until the whole text is out.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx {

// WSAStartup with `version` for the lifetime of the object; WSACleanup when it started.
class WinsockScope {
 public:
  explicit WinsockScope(WORD version);
  ~WinsockScope();
  WinsockScope(const WinsockScope&) = delete;
  WinsockScope& operator=(const WinsockScope&) = delete;
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

// Owns one socket and closes it.
class SocketHandle {
 public:
  SocketHandle() = default;
  explicit SocketHandle(SOCKET s) : socket_(s) {}
  ~SocketHandle() { Close(); }
  SocketHandle(const SocketHandle&) = delete;
  SocketHandle& operator=(const SocketHandle&) = delete;
  SOCKET get() const { return socket_; }
  bool valid() const { return socket_ != INVALID_SOCKET; }
  void Reset(SOCKET s) {
    Close();
    socket_ = s;
  }
  void Close();

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

// A dotted IPv4 address, else the first address of a name look-up.
bool ResolveIpv4(const std::string& host, in_addr& address);

// Connects a new TCP socket; the connection attempt itself is bounded by `timeoutMs`.
bool ConnectTcp(SocketHandle& socket, const in_addr& address, uint16_t port, uint32_t timeoutMs);

// Sends the whole buffer in pieces of at most 1024 bytes, each piece until it is out: a send
// that takes only part of a piece is followed by one for the rest. False when the socket fails.
bool SendAll(SOCKET s, const void* data, size_t size);
inline bool SendAll(SOCKET s, const std::string& text) { return SendAll(s, text.data(), text.size()); }

// Bytes SendAll has handed to sockets in this process (for the benchmark's wire figures).
uint64_t SocketBytesSent();

// 1 when data (or the peer's close) can be read, 0 after `timeoutMs` of silence, -1 on error.
int WaitReadable(SOCKET s, uint32_t timeoutMs);

// Waits up to `timeoutMs` and receives up to `capacity` bytes: the count, 0 when the peer
// closed, -1 on silence or error.
int ReceiveSome(SOCKET s, char* buffer, size_t capacity, uint32_t timeoutMs);

}  // namespace qx
