// Recipient lists as the settings hold them ("a@b.c; Name <d@e.f>") and the address forms
// the SMTP dialogue, the mail headers and the desktop hand-offs need.
#pragma once

#include <string>
#include <vector>

namespace qx {

// Turns ";" into ",", removes blanks (code 32 and below) at both ends and around every ","
// and drops empty elements; returns the number of elements (0 for an empty list). The list
// is changed in place.
int CountMailAddrs(std::string& list);

// The elements of a list CountMailAddrs has normalised.
std::vector<std::string> SplitMailAddrs(const std::string& normalisedList);

// "<address>" for a bare address; an address with "<" unchanged when `keepName`, else from
// the "<" on.
std::string MailAddrText(const std::string& address, bool keepName);

}  // namespace qx
