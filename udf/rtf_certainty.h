// Whether our rich-text reader can answer "blank or not" for a text exactly as a rich-edit
// control would, on any Windows and in any system code page. The reader reports what it
// meets; anything outside the small set of constructs that every rich-edit control reads
// the same way makes the answer unsure, and the control itself is asked.
#pragma once

#include <string_view>

namespace qx {

enum class RtfVerdict {
  kBlank,    // the control shows nothing but spaces, tabs and breaks
  kVisible,  // the control shows at least one visible character
  kUnsure,   // only the control can tell
};

class RtfCertainty {
 public:
  // A group opened; depth counts the document's own group as 1.
  void GroupOpened(size_t depth);
  // A control word; shown is false inside a destination that displays nothing.
  void Word(std::string_view word, bool shown, bool hasParameter, bool parameterTooLong);
  // A control symbol other than \' (which reports its byte through Shown or Unsure).
  void Symbol(char symbol, bool shown);
  // A byte the reader shows (a break counts as its CR and LF).
  void Shown(unsigned char byte);
  // The group that opened the document closed; rest is what follows it.
  void DocumentClosed(std::string_view rest);
  // The input ended inside the document.
  void InputEnded() { unsure_ = true; }
  void Unsure() { unsure_ = true; }

  RtfVerdict Verdict() const;

 private:
  void TokenSeen() { atGroupStart_ = false; }

  bool unsure_ = false;
  bool sureVisible_ = false;     // an ASCII character shown on its own
  bool sawNonAscii_ = false;     // a character whose rendering depends on code pages
  bool previousNonAscii_ = false;
  bool atGroupStart_ = false;
  bool expectStarredWord_ = false;
  bool sawRtfWord_ = false;
};

// The verdict for a text that is not rich text (the control inserts it as plain text).
RtfVerdict PlainTextVerdict(std::string_view text);

}  // namespace qx
