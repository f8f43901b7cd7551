#include "socket_win.h"

#include "online_check_win.h"

#include "icmp_echo.h"
#include "network_switches.h"
#include "process_registries.h"

namespace qx {

namespace {

constexpr int kTimeToLive = 30;
constexpr int kOldIpTtlOption = 7;  // Windows Sockets 1.1 numbering
constexpr int kIpTtlOption = 4;
constexpr size_t kEchoReplyCapacity = 1044;

// Advanced without a lock: two pings at once may share a number, which only costs a retry.
volatile uint16_t g_echoSequence = 0;

uint16_t NextSequence() {
  const uint16_t next = static_cast<uint16_t>(g_echoSequence + 1);
  g_echoSequence = next;
  return next;
}

// Loading the dial-up library needs the loader lock: not while the process is blocked.
bool ProcessBlocked() {
  const auto blocked = Hooks().processBlocked;
  return blocked != nullptr && blocked(250);
}

bool AttemptDialUp() {
  if (ProcessBlocked()) return false;
  HMODULE library = LoadLibraryA("wininet.dll");
  if (library == nullptr) return false;
  using AttemptFn = DWORD(WINAPI*)(DWORD);
  auto attempt = reinterpret_cast<AttemptFn>(reinterpret_cast<void*>(GetProcAddress(library, "InternetAttemptConnect")));
  const bool connected = attempt != nullptr && attempt(0) == ERROR_SUCCESS;
  FreeLibrary(library);
  return connected;
}

}  // namespace

bool EchoProbe(const std::string& host) {
  WinsockScope winsock(0x0201);
  if (!winsock.ok()) return false;
  SocketHandle s(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP));
  if (!s.valid()) return false;
  const int ttl = kTimeToLive;
  if (setsockopt(s.get(), IPPROTO_IP, kOldIpTtlOption, reinterpret_cast<const char*>(&ttl), sizeof ttl) != 0) {
    setsockopt(s.get(), IPPROTO_IP, kIpTtlOption, reinterpret_cast<const char*>(&ttl), sizeof ttl);
  }
  sockaddr_in target{};
  target.sin_family = AF_INET;
  if (!ResolveIpv4(host, target.sin_addr)) return false;
  const uint16_t identifier = static_cast<uint16_t>(GetCurrentProcessId());
  const uint16_t sequence = NextSequence();
  const std::string request = EchoRequest(identifier, sequence);
  if (sendto(s.get(), request.data(), static_cast<int>(request.size()), 0,
             reinterpret_cast<const sockaddr*>(&target), sizeof target) != static_cast<int>(request.size())) {
    return false;
  }
  // Bounded by a deadline as well, so that a stream of other ICMP messages cannot keep us.
  const DWORD start = GetTickCount();
  const uint32_t timeout = NetworkSeamsOf().echoReplyTimeoutMs;
  for (;;) {
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= timeout) return false;
    if (WaitReadable(s.get(), timeout - elapsed) != 1) return false;
    uint8_t reply[kEchoReplyCapacity];
    const int received = recv(s.get(), reinterpret_cast<char*>(reply), sizeof reply, 0);
    if (received < 0) return false;
    const EchoReplyCheck check = CheckEchoReply(reply, static_cast<size_t>(received), identifier, sequence);
    if (check == EchoReplyCheck::kMatch) return true;
    if (check == EchoReplyCheck::kTooShort) return false;
  }
}

bool IsOnline(bool tryToDial) {
  if (NetworkSwitchesOf().skipOnlineCheck) return true;
  const std::string host = NetworkSeamsOf().echoHost;
  if (EchoProbe(host)) return true;
  return tryToDial && AttemptDialUp() && EchoProbe(host);
}

}  // namespace qx
