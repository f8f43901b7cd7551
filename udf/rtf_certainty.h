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
  // A group opened or closed; depth counts the document's own group as 1.
  void GroupOpened(size_t depth);
  void GroupClosing(size_t depth);
  // A control word; shown is false inside a destination that displays nothing.
  void Word(std::string_view word, bool shown, bool hasParameter, long long parameter,
            bool parameterTooLong);
  // A control symbol other than \' (which reports its byte through Shown or Unsure).
  void Symbol(char symbol, bool shown);
  // A byte the reader shows (a break counts as its CR and LF).
  void Shown(unsigned char byte);
  // A byte of text inside a destination that displays nothing.
  void HiddenByte(unsigned char byte);
  // The group that opened the document closed; rest is what follows it.
  void DocumentClosed(std::string_view rest);
  // The input ended inside the document.
  void InputEnded() { unsure_ = true; }
  void Unsure() { unsure_ = true; }

  RtfVerdict Verdict() const;

 private:
  enum class Table { kNone, kFonts, kColors, kStyles, kInfo, kStarred };

  void TokenSeen();
  void CheckCharacterSet(std::string_view word, bool hasParameter, long long parameter);
  void EnterTable(Table table);
  void TableWord(std::string_view word);

  bool unsure_ = false;
  bool sureVisible_ = false;     // an ASCII character shown on its own
  bool sawNonAscii_ = false;     // a character whose rendering depends on code pages
  bool previousNonAscii_ = false;
  bool sawBody_ = false;         // any text or break shown yet
  bool atGroupStart_ = false;
  bool expectStarredWord_ = false;
  bool sawRtfWord_ = false;
  size_t depth_ = 0;
  // The destination that displays nothing we are in (a table of the header or a \* group)
  // and the depth of its group. A table's entries are groups one level down, each opening
  // with its own word; deeper groups must be \* groups.
  Table table_ = Table::kNone;
  size_t tableDepth_ = 0;
  bool entryPending_ = false;   // a table entry's group opened; its first word is due
  bool starredEntry_ = false;   // a style entry opened with \*; cs, ds or ts is due
  bool mustBeStarred_ = false;  // a deeper group opened; \* is due
};

// The verdict for a text that is not rich text (the control inserts it as plain text).
RtfVerdict PlainTextVerdict(std::string_view text);

}  // namespace qx
