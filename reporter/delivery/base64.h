// Standard base64 (RFC 4648 alphabet, "=" padding), as mail parts and HTTP authorisation
// carry binary data and account texts.
#pragma once

#include <cstddef>
#include <string>

namespace qx {

std::string Base64(const void* data, size_t size);
inline std::string Base64(const std::string& text) { return Base64(text.data(), text.size()); }

// Bytes per line of a base64 mail part: 57 bytes make one 76-character line.
inline constexpr size_t kBase64LineBytes = 57;

// The data as mail-part lines: every 57 bytes one line of base64 followed by CR LF.
std::string Base64Lines(const void* data, size_t size);

}  // namespace qx
