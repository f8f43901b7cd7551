#include "icmp_echo.h"

namespace qx {

uint16_t InternetChecksum(const uint8_t* data, size_t size) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < size; i += 2) sum += static_cast<uint32_t>((data[i] << 8) | data[i + 1]);
  if (i < size) sum += static_cast<uint32_t>(data[i] << 8);
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint16_t>(~sum & 0xFFFF);
}

std::string EchoRequest(uint16_t identifier, uint16_t sequence) {
  uint8_t packet[kEchoRequestBytes] = {8, 0, 0, 0,
                                       static_cast<uint8_t>(identifier >> 8),
                                       static_cast<uint8_t>(identifier),
                                       static_cast<uint8_t>(sequence >> 8),
                                       static_cast<uint8_t>(sequence)};
  for (size_t at = 8; at < kEchoRequestBytes; at += 4) {
    packet[at] = 0xDE;
    packet[at + 1] = 0xAD;
    packet[at + 2] = 0xBE;
    packet[at + 3] = 0xEF;
  }
  const uint16_t sum = InternetChecksum(packet, sizeof packet);
  packet[2] = static_cast<uint8_t>(sum >> 8);
  packet[3] = static_cast<uint8_t>(sum);
  return std::string(reinterpret_cast<const char*>(packet), sizeof packet);
}

EchoReplyCheck CheckEchoReply(const uint8_t* datagram, size_t size, uint16_t identifier,
                              uint16_t sequence) {
  if (size == 0) return EchoReplyCheck::kTooShort;
  const size_t header = static_cast<size_t>(datagram[0] & 0x0F) * 4;
  if (size < header + kEchoRequestBytes) return EchoReplyCheck::kTooShort;
  const uint8_t* icmp = datagram + header;
  if (icmp[0] != 0) return EchoReplyCheck::kOther;
  const uint16_t id = static_cast<uint16_t>((icmp[4] << 8) | icmp[5]);
  const uint16_t seq = static_cast<uint16_t>((icmp[6] << 8) | icmp[7]);
  return id == identifier && seq == sequence ? EchoReplyCheck::kMatch : EchoReplyCheck::kOther;
}

}  // namespace qx
