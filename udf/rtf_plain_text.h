// The plain text that a rich-text control displays for a text, without the control: the
// rich-text conversion of fn_TrimRTF where no Windows rich-edit control exists.
#pragma once

#include <string>
#include <string_view>

#include "rtf_certainty.h"

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

// Whether a rich-edit control shows anything visible for `text` (up to its first zero
// byte), where the reader can be sure of it: every control word, symbol and destination
// of the text is one that all rich-edit controls read alike (formatting, paragraph and
// tab breaks, the font, colour and style tables, document information, a few \* groups),
// the document is closed with nothing after it, groups nest at most eight deep, and the
// verdict does not hang on a character above 127 (which the system code page may render
// as a space, or join to the next byte). Otherwise kUnsure. Never throws anything but
// std::bad_alloc.
RtfVerdict JudgeRichText(std::string_view text);

}  // namespace qx
