#include "password_scramble.h"

#include <cstdint>

namespace qx {

namespace {

// FNV-1a over account, a separator and server seeds a xorshift generator; each output byte
// also depends on the previous scrambled byte, so equal password bytes do not show.
class KeyStream {
 public:
  KeyStream(const std::string& account, const std::string& server) {
    uint32_t hash = 2166136261u;
    auto mix = [&hash](unsigned char c) {
      hash ^= c;
      hash *= 16777619u;
    };
    for (unsigned char c : account) mix(c);
    mix(0);
    for (unsigned char c : server) mix(c);
    state_ = hash == 0 ? 0x9E3779B9u : hash;
  }
  uint8_t Next(uint8_t previous) {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return static_cast<uint8_t>((state_ >> 11) ^ previous);
  }

 private:
  uint32_t state_;
};

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string ScramblePassword(const std::string& password, const std::string& account,
                             const std::string& server) {
  static const char kDigits[] = "0123456789abcdef";
  KeyStream keys(account, server);
  std::string stored;
  uint8_t previous = 0x5A;
  for (unsigned char c : password) {
    uint8_t scrambled = static_cast<uint8_t>(c ^ keys.Next(previous));
    stored += kDigits[scrambled >> 4];
    stored += kDigits[scrambled & 15];
    previous = scrambled;
  }
  return stored;
}

std::optional<std::string> DescramblePassword(const std::string& stored,
                                              const std::string& account,
                                              const std::string& server) {
  if (stored.size() % 2 != 0) return std::nullopt;
  KeyStream keys(account, server);
  std::string password;
  uint8_t previous = 0x5A;
  for (size_t i = 0; i < stored.size(); i += 2) {
    int high = HexValue(stored[i]), low = HexValue(stored[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    uint8_t scrambled = static_cast<uint8_t>(high * 16 + low);
    password += static_cast<char>(scrambled ^ keys.Next(previous));
    previous = scrambled;
  }
  return password;
}

}  // namespace qx
