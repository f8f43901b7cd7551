// The process-wide switches of the network channels and the places tests may redirect them
// to (a DNS server list and port of their own, the root servers, a recorded browser).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qx {

struct NetworkSwitches {
  bool skipOnlineCheck = true;
  bool utf8Subject = false;
  uint32_t httpReplyTimeoutMs = 7000;
  bool proxyDisabled = false;
  std::string fixedProxy;     // used instead of the system's proxy when set
  std::string fixedMailFrom;  // MAIL FROM address when set
};

// Opens a page in the user's browser; the default hands it to the shell.
using UrlOpener = void (*)(const std::string& url);

struct NetworkSeams {
  // DNS servers used instead of the system's when `useDnsServers` is set (an empty list
  // then means "none": the look-up starts at the root servers).
  bool useDnsServers = false;
  std::vector<std::string> dnsServers;
  uint16_t dnsPort = 53;
  std::vector<std::string> rootServers{"198.41.0.4", "199.9.14.201"};  // a. and b. root
  std::string echoHost = "www.microsoft.com";
  uint32_t smtpReplyTimeoutMs = 7000;
  uint32_t dnsReplyTimeoutMs = 5000;
  uint32_t echoReplyTimeoutMs = 1000;
  UrlOpener openUrl = nullptr;  // null: the shell
};

// The one instance of each; read by every send, set only before sends start.
NetworkSwitches& NetworkSwitchesOf();
NetworkSeams& NetworkSeamsOf();

}  // namespace qx
