// The stored form of the SMTP and HTTP passwords: the password's bytes mixed with a key
// stream drawn from the account and server texts, written as lower-case hexadecimal.
// Keeps passwords out of plain sight in the module file; it is not encryption.
// tools/settings_stream.py writes the same form.
#pragma once

#include <optional>
#include <string>

namespace qx {

std::string ScramblePassword(const std::string& password, const std::string& account,
                             const std::string& server);

// The password, or nothing when the text is not a scrambled password (odd length, a
// character that is not a lower-case hexadecimal digit).
std::optional<std::string> DescramblePassword(const std::string& stored,
                                              const std::string& account,
                                              const std::string& server);

}  // namespace qx
