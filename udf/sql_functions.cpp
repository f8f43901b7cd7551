#include "sql_functions.h"

#include <cstring>
#include <vector>

namespace qx {

int32_t SetBit(int32_t a, int32_t mask) { return a | mask; }
int32_t ClearBit(int32_t a, int32_t mask) { return a & ~mask; }
int32_t CheckBit(int32_t a, int32_t mask) { return (a & mask) != 0 ? 1 : 0; }
int32_t MinValue(int32_t a, int32_t b) { return b < a ? b : a; }
int32_t MaxValue(int32_t a, int32_t b) { return b > a ? b : a; }
double IncDay(double date, int32_t days) { return date + static_cast<double>(days); }

int32_t FactBedragBetaald(int32_t amount, const char* flag) {
  return (flag != nullptr && flag[0] == 'Y') ? amount : 0;
}

int32_t BoolStringToInt(const char* flags) {
  if (flags == nullptr) return 0;
  const size_t n = std::strlen(flags);
  uint32_t sum = 0;
  for (size_t i = 0; i < n; ++i) {
    if (flags[i] == 'Y') sum += uint32_t{1} << ((n - 1 - i) % 32);
  }
  return static_cast<int32_t>(sum);
}

std::string IntToCnk(int32_t value) {
  uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
  char digits[16];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::string text;
  text.reserve(12);
  if (value < 0) text.push_back('-');
  for (int pad = count; pad < 7; ++pad) text.push_back('0');
  while (count > 0) text.push_back(digits[--count]);
  return text;
}

namespace {

// Knuth-Morris-Pratt failure table: for each prefix length, the length of its longest
// proper border. Keeps the search linear however the pattern repeats itself.
std::vector<size_t> BorderTable(std::string_view pattern) {
  std::vector<size_t> border(pattern.size(), 0);
  size_t k = 0;
  for (size_t i = 1; i < pattern.size(); ++i) {
    while (k > 0 && pattern[i] != pattern[k]) k = border[k - 1];
    if (pattern[i] == pattern[k]) ++k;
    border[i] = k;
  }
  return border;
}

}  // namespace

std::string StrReplace(std::string_view s, std::string_view oldText, std::string_view newText,
                       LeadBytePredicate isLeadByte) {
  if (s.empty()) return std::string();
  if (oldText.empty()) return std::string(s);

  const std::vector<size_t> border = BorderTable(oldText);
  const size_t m = oldText.size();
  std::string out;
  out.reserve(s.size());

  size_t searchPos = 0;  // where the current search began; also a character boundary
  size_t matched = 0;    // KMP state: bytes of oldText matched ending at i
  // Trail-byte tracking restarts at every search position, as a fresh search of the rest
  // of the text would. trailAt[i % m] records whether byte i is the second byte of a
  // double-byte character; a window of m entries is all a match start needs.
  std::vector<char> trail(isLeadByte != nullptr ? m : 0, 0);
  bool nextIsTrail = false;

  for (size_t i = searchPos; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (isLeadByte != nullptr) {
      trail[i % m] = nextIsTrail ? 1 : 0;
      nextIsTrail = !nextIsTrail && isLeadByte(c);
    }
    while (matched > 0 && s[i] != oldText[matched]) matched = border[matched - 1];
    if (s[i] == oldText[matched]) ++matched;
    if (matched < m) continue;

    const size_t start = i + 1 - m;
    if (isLeadByte != nullptr && trail[start % m]) {
      matched = border[m - 1];  // not a match here; later overlapping ones may still be
      continue;
    }
    out.append(s.data() + searchPos, start - searchPos);
    out.append(newText.data(), newText.size());
    searchPos = i + 1;
    matched = 0;
    nextIsTrail = false;
  }
  out.append(s.data() + searchPos, s.size() - searchPos);
  return out;
}

std::string GetBlobValue(std::string_view blobText, std::string_view name,
                         const NameEqualsFn& nameEquals) {
  // The text ends at its first zero byte.
  const size_t zero = blobText.find('\0');
  if (zero != std::string_view::npos) blobText = blobText.substr(0, zero);

  size_t pos = 0;
  const size_t end = blobText.size();
  while (pos < end) {
    size_t lineEnd = pos;
    while (lineEnd < end && blobText[lineEnd] != '\r' && blobText[lineEnd] != '\n') ++lineEnd;
    const std::string_view line = blobText.substr(pos, lineEnd - pos);
    pos = lineEnd;
    if (pos < end && blobText[pos] == '\r') ++pos;
    if (pos < end && blobText[pos] == '\n') ++pos;

    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    if (nameEquals(line.substr(0, eq), name)) return std::string(line.substr(eq + 1));
  }
  return std::string();
}

bool HasVisibleText(std::string_view plainText) {
  for (unsigned char c : plainText) {
    if (c > 32) return true;
  }
  return false;
}

}  // namespace qx
