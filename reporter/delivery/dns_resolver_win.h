// The small resolver of direct mail delivery: the system's DNS servers, one query to a list
// of servers, and the mail exchanger of an address (through the system's servers, or from
// the root servers on when the system has none).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qx {

// IPv4 address texts, the current server first (the test seam's list when it is set).
std::vector<std::string> SystemDnsServers();

// Sends one question to every server and reads replies until one yields answers or (for NS
// questions) referrals, each reply waited for at most the DNS time-out.
void DnsQuery(const std::string& name, const std::vector<std::string>& servers, uint16_t type,
              std::vector<std::string>& answers, std::vector<std::string>& authority);

// The host name of a mail exchanger for the address's domain, or empty.
std::string FindMailExchanger(const std::string& address);

}  // namespace qx
