#include "dns_resolver_win.h"

#include "socket_win.h"

#include <iphlpapi.h>

#include "dns_message.h"
#include "network_switches.h"

namespace qx {

namespace {

// Replies that are not for us (wrong identifier, not a response) are skipped without using
// up a server's turn, but only this many times per query.
constexpr int kMaxStrayReplies = 16;
constexpr int kMaxReferrals = 10;

bool OldWindows() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  if (!GetVersionExA(&version)) return false;
  if (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS) return version.dwMinorVersion == 0;
  return version.dwMajorVersion <= 4;
}

std::vector<std::string> SplitServerText(const std::string& text) {
  std::vector<std::string> servers;
  const char separator = text.find(',') != std::string::npos ? ',' : ' ';
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    std::string item = text.substr(start, end - start);
    while (!item.empty() && item.back() == ' ') item.pop_back();
    while (!item.empty() && item.front() == ' ') item.erase(0, 1);
    if (!item.empty()) servers.push_back(item);
    start = end + 1;
  }
  return servers;
}

std::string RegistryText(HKEY key, const char* name) {
  char value[1024];
  DWORD size = sizeof value - 1;
  DWORD type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::string();
  }
  value[size] = 0;
  return value;
}

std::vector<std::string> RegistryDnsServers() {
  OSVERSIONINFOA version{};
  version.dwOSVersionInfoSize = sizeof version;
  GetVersionExA(&version);
  const std::string path = std::string("System\\CurrentControlSet\\Services\\") +
      (version.dwPlatformId == VER_PLATFORM_WIN32_WINDOWS ? "VxD\\MSTCP" : "Tcpip\\Parameters");
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
  std::string text = RegistryText(key, "DhcpNameServer");
  if (text.empty()) text = RegistryText(key, "NameServer");
  RegCloseKey(key);
  return SplitServerText(text);
}

std::vector<std::string> NetworkParamsDnsServers() {
  std::vector<std::string> servers;
  HMODULE library = LoadLibraryA("IpHlpApi.dll");
  if (library == nullptr) return servers;
  using GetNetworkParamsFn = DWORD(WINAPI*)(PFIXED_INFO, PULONG);
  auto get = reinterpret_cast<GetNetworkParamsFn>(
      reinterpret_cast<void*>(GetProcAddress(library, "GetNetworkParams")));
  ULONG size = 0;
  if (get != nullptr && get(nullptr, &size) == ERROR_BUFFER_OVERFLOW && size > 0) {
    std::vector<char> buffer(static_cast<size_t>(size) * 2);
    ULONG capacity = static_cast<ULONG>(buffer.size());
    auto* info = reinterpret_cast<FIXED_INFO*>(buffer.data());
    if (get(info, &capacity) == ERROR_SUCCESS) {
      const IP_ADDR_STRING* current = info->CurrentDnsServer;
      std::string first = current != nullptr ? current->IpAddress.String : "";
      if (!first.empty()) servers.push_back(first);
      for (const IP_ADDR_STRING* item = &info->DnsServerList; item != nullptr; item = item->Next) {
        const std::string text = item->IpAddress.String;
        if (!text.empty() && text != first) servers.push_back(text);
      }
    }
  }
  FreeLibrary(library);
  return servers;
}

int SendQueries(SOCKET s, const std::string& request, const std::vector<std::string>& servers) {
  int sent = 0;
  for (const std::string& server : servers) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(NetworkSeamsOf().dnsPort);
    if (!ResolveIpv4(server, target.sin_addr)) continue;
    if (sendto(s, request.data(), static_cast<int>(request.size()), 0,
               reinterpret_cast<const sockaddr*>(&target), sizeof target) == static_cast<int>(request.size())) {
      ++sent;
    }
  }
  return sent;
}

}  // namespace

std::vector<std::string> SystemDnsServers() {
  const NetworkSeams& seams = NetworkSeamsOf();
  if (seams.useDnsServers) return seams.dnsServers;
  return OldWindows() ? RegistryDnsServers() : NetworkParamsDnsServers();
}

void DnsQuery(const std::string& name, const std::vector<std::string>& servers, uint16_t type,
              std::vector<std::string>& answers, std::vector<std::string>& authority) {
  answers.clear();
  authority.clear();
  const std::string request = BuildDnsQuery(name, type);
  if (request.empty()) return;
  SocketHandle s(socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
  if (!s.valid()) return;
  sockaddr_in local{};
  local.sin_family = AF_INET;
  if (bind(s.get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return;
  int pending = SendQueries(s.get(), request, servers);
  int strays = 0;
  while (pending > 0) {
    if (WaitReadable(s.get(), NetworkSeamsOf().dnsReplyTimeoutMs) != 1) return;
    uint8_t reply[kDnsMaxMessage];
    const int received = recv(s.get(), reinterpret_cast<char*>(reply), sizeof reply, 0);
    if (received < 0) {
      // A refused datagram (an unreachable server) ends that server's turn.
      --pending;
      continue;
    }
    DnsReply parsed;
    const DnsReplyCheck check = ParseDnsReply(reply, static_cast<size_t>(received), 1, type, parsed);
    if (check == DnsReplyCheck::kNotOurs && (received < 4 || (reply[3] & 0x0F) == 0)) {
      if (++strays > kMaxStrayReplies) return;
      continue;
    }
    answers = parsed.answers;
    authority = parsed.authority;
    if (!answers.empty() || !authority.empty()) return;
    --pending;
  }
}

std::string FindMailExchanger(const std::string& address) {
  const std::string domain = MailDomain(address);
  const std::string parent = ParentDomain(domain);
  WinsockScope winsock(MAKEWORD(1, 1));
  if (!winsock.ok()) return std::string();
  std::vector<std::string> answers, authority;
  std::vector<std::string> servers = SystemDnsServers();
  if (servers.empty()) {
    DnsQuery(parent, NetworkSeamsOf().rootServers, kDnsTypeNs, answers, authority);
    for (int i = 0; i < kMaxReferrals && answers.empty() && !authority.empty(); ++i) {
      const std::vector<std::string> referred = authority;
      DnsQuery(parent, referred, kDnsTypeNs, answers, authority);
      if (answers.empty() && authority.empty()) authority = referred;
      if (answers.empty() && authority == referred) break;  // the same referral again
    }
    if (answers.empty()) answers = authority;
    if (answers.empty()) return std::string();
    servers = answers;
  }
  DnsQuery(domain, servers, kDnsTypeMx, answers, authority);
  if (answers.empty() && parent != domain) DnsQuery(parent, servers, kDnsTypeMx, answers, authority);
  return answers.empty() ? std::string() : answers.front();
}

}  // namespace qx
