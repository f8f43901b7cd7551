// The plain text that a rich-text control displays for a text, without the control: the
// rich-text conversion of fn_TrimRTF where no Windows rich-edit control exists.
#pragma once

#include <string>
#include <string_view>

namespace qx {

// True when the text starts as a rich-edit control recognises rich text ("{\rtf" or
// "{\urtf"); anything else the control takes as plain text.
bool LooksLikeRtf(std::string_view text);

// The displayed text of `text` as 8-bit text (Windows-1252 for characters given as \uN).
// Rich text is interpreted: control words and groups are read, paragraph and line breaks
// become CR LF, \tab a tab, \'hh its byte, \uN its character (skipping the \ucN fallback
// characters that follow), and destinations that display nothing (font, colour and style
// tables, document information, pictures, objects, headers, footers, \* groups, field
// instructions) are dropped. Reading stops at the group that closes the document.
// Plain text is returned unchanged. Never throws anything but std::bad_alloc; malformed
// rich text yields what could be read of it.
std::string RtfPlainText(std::string_view text);

}  // namespace qx
