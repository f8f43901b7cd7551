// What the SQL functions need from the operating system. Each platform build supplies
// one implementation of these.
#pragma once

#include <string>
#include <string_view>

namespace qx {

// Reads the locale values once, when the module is loaded.
void PlatformStartup();
// Releases what the functions loaded on demand (the rich-text control library).
void PlatformShutdown();

// The decimal separator read at load time; '.' when the locale gives none.
char DecimalSeparator();

// Name comparison of fn_GetBlobValue: equal ignoring letter case by the user's locale.
bool NamesEqualIgnoringCase(std::string_view a, std::string_view b);

// Whether a byte starts a double-byte character of the system code page; nullptr when the
// code page is a single-byte one (no check is needed then).
bool (*LeadBytePredicateForSystem())(unsigned char);

// Runs the rich text through the platform's rich-text control and returns the plain text
// it displays. Only the part before the first zero byte is taken. Throws on any failure.
std::string RichTextToPlain(const std::string& richText);

// Whether the rich text displays nothing but spaces, control characters and breaks: the
// plain text of RichTextToPlain holds no byte above 32. Where the platform can answer
// without its control it does; where it asks the control and controlPlainText is given,
// that receives the control's plain text. Throws on any failure.
bool RichTextIsBlank(const std::string& richText, std::string* controlPlainText = nullptr);

}  // namespace qx
