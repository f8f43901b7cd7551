// ICMP echo request and reply for the online check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qx {

inline constexpr size_t kEchoRequestBytes = 32;

// The Internet checksum (RFC 1071): the one's complement of the one's-complement sum of the
// data as big-endian 16-bit words, an odd last byte padded with zero. Returned in host
// order; stored big-endian.
uint16_t InternetChecksum(const uint8_t* data, size_t size);

// Type 8, code 0, checksum, identifier and sequence (big-endian), then six words 0xDEADBEEF.
std::string EchoRequest(uint16_t identifier, uint16_t sequence);

enum class EchoReplyCheck { kMatch, kOther, kTooShort };

// Judges one received datagram, IP header included (its length from the low four bits of
// the first byte): too short for the header and 32 bytes, an echo reply to our request, or
// something else to skip.
EchoReplyCheck CheckEchoReply(const uint8_t* datagram, size_t size, uint16_t identifier,
                              uint16_t sequence);

}  // namespace qx
