#include "base64.h"

#include <cstdint>

namespace qx {

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
}  // namespace

std::string Base64(const void* data, size_t size) {
  const auto* in = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve((size + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= size; i += 3) {
    const uint32_t v = (uint32_t{in[i]} << 16) | (uint32_t{in[i + 1]} << 8) | in[i + 2];
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < size) {
    uint32_t v = uint32_t{in[i]} << 16;
    if (i + 1 < size) v |= uint32_t{in[i + 1]} << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < size ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

std::string Base64Lines(const void* data, size_t size) {
  const auto* in = static_cast<const uint8_t*>(data);
  std::string out;
  out.reserve((size + kBase64LineBytes - 1) / kBase64LineBytes * 78);
  for (size_t at = 0; at < size; at += kBase64LineBytes) {
    const size_t chunk = size - at < kBase64LineBytes ? size - at : kBase64LineBytes;
    out += Base64(in + at, chunk);
    out += "\r\n";
  }
  return out;
}

}  // namespace qx
