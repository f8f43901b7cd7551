#include "mail_addresses.h"

namespace qx {

namespace {

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string Trimmed(const std::string& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return text.substr(first, last - first);
}

}  // namespace

int CountMailAddrs(std::string& list) {
  std::string normalised;
  std::string element;
  int count = 0;
  for (size_t i = 0; i <= list.size(); ++i) {
    const char c = i < list.size() ? list[i] : ',';
    if (c != ',' && c != ';') {
      element += c;
      continue;
    }
    // An empty element (" ; ", "a;;b") is no address: it would become "RCPT TO:<>".
    const std::string address = Trimmed(element);
    element.clear();
    if (address.empty()) continue;
    if (count > 0) normalised += ',';
    normalised += address;
    ++count;
  }
  list = normalised;
  return count;
}

std::vector<std::string> SplitMailAddrs(const std::string& normalisedList) {
  std::vector<std::string> elements;
  if (normalisedList.empty()) return elements;
  size_t start = 0;
  for (;;) {
    const size_t comma = normalisedList.find(',', start);
    elements.push_back(normalisedList.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return elements;
}

std::string MailAddrText(const std::string& address, bool keepName) {
  const size_t open = address.find('<');
  if (open == std::string::npos) return "<" + address + ">";
  return keepName ? address : address.substr(open);
}

}  // namespace qx
