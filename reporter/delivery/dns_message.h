// DNS messages (RFC 1035 wire format) for the mail-exchanger look-up: the one-question
// request and a reply parser that stays inside the bytes received whatever they hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qx {

inline constexpr uint16_t kDnsTypeNs = 2;
inline constexpr uint16_t kDnsTypeMx = 15;
inline constexpr size_t kDnsMaxMessage = 512;
inline constexpr size_t kDnsMaxName = 255;  // wire bytes, length bytes and final zero included

// Identifier `id`, recursion desired, one question for `name` of `type`, class IN. Empty
// when the name cannot be written (an empty or over-long label, a name over 255 bytes).
std::string BuildDnsQuery(const std::string& name, uint16_t type, uint16_t id = 1);

// Reads the name at `offset`; on success sets `name` (labels joined with ".") and `next`
// (the offset after the name where it is stored). Compression pointers must point before
// the pointer itself, so they can neither loop nor reach past what was received.
bool ReadDnsName(const uint8_t* message, size_t size, size_t offset, std::string& name,
                 size_t& next);

struct DnsReply {
  std::vector<std::string> answers;    // host names of the answer records of the asked type
  std::vector<std::string> authority;  // name servers of the authority records (NS queries)
};

enum class DnsReplyCheck {
  kParsed,       // a reply to our question; its records (maybe none) are in `reply`
  kNotOurs,      // wrong identifier, not a response, or a response code other than 0
  kMalformed,    // the records run past the message; what was read before is kept
};

// Parses a reply to the request with identifier `id` and question `type`. Records of other
// types are skipped; for NS questions the authority records are read too.
DnsReplyCheck ParseDnsReply(const uint8_t* message, size_t size, uint16_t id, uint16_t type,
                            DnsReply& reply);

// "example.com" from "user@example.com>" (the text after the first "@", one trailing ">"
// dropped), and that domain cut to its last three labels.
std::string MailDomain(const std::string& address);
std::string ParentDomain(const std::string& domain);

}  // namespace qx
