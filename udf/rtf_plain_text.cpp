#include "rtf_plain_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <iterator>
#include <vector>

#include "rtf_certainty.h"

namespace qx {

namespace {

// Destinations whose text a rich-text control never shows in the document body.
constexpr std::string_view kHiddenDestinations[] = {
    "fonttbl",     "colortbl",    "stylesheet",   "info",        "pict",
    "object",      "objdata",     "objclass",     "objname",     "header",
    "headerl",     "headerr",     "headerf",      "footer",      "footerl",
    "footerr",     "footerf",     "listtable",    "listoverridetable", "revtbl",
    "rsidtbl",     "generator",   "filetbl",      "fldinst",     "xmlnstbl",
    "themedata",   "colorschememapping", "latentstyles", "datastore", "datafield",
    "pntext",      "pntxta",      "pntxtb",       "listtext",    "footnote",
    "annotation",  "atnid",       "atnauthor",    "ftnsep",      "ftnsepc",
    "ftncn",       "aftnsep",     "aftnsepc",     "aftncn",      "template",
    "xe",          "tc",          "txe",          "rxe",         "shpinst",
    "nonshppict",  "userprops",
};

bool IsHiddenDestination(std::string_view word) {
  return std::find(std::begin(kHiddenDestinations), std::end(kHiddenDestinations), word) !=
         std::end(kHiddenDestinations);
}

// Windows-1252 bytes 0x80..0x9f and the characters they stand for.
constexpr std::array<uint16_t, 32> kCp1252High = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

// One character as the 8-bit text shows it: its Windows-1252 byte, a space for the
// typographic spaces (as Windows' best-fit conversion does), '?' for anything else.
// Returns -1 for characters that display nothing.
int AnsiByteOf(uint32_t code) {
  if (code == 0) return -1;
  if (code < 0x80 || (code >= 0xA0 && code <= 0xFF)) return static_cast<int>(code);
  for (size_t i = 0; i < kCp1252High.size(); ++i) {
    if (kCp1252High[i] == code) return static_cast<int>(0x80 + i);
  }
  if ((code >= 0x2000 && code <= 0x200A) || code == 0x202F || code == 0x205F ||
      code == 0x3000) {
    return ' ';
  }
  return '?';
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

struct GroupState {
  int fallbackLength = 1;  // \ucN: characters that follow each \uN for older readers
  bool hidden = false;     // inside a destination that displays nothing
};

class RtfReader {
 public:
  // certainty, when given, is told of every construct the reader meets.
  RtfReader(std::string_view text, RtfCertainty* certainty) : in_(text), certainty_(certainty) {
    groups_.reserve(16);  // one allocation covers the nesting of nearly every text
    groups_.emplace_back();
  }

  std::string Read() {
    while (pos_ < in_.size()) {
      const char c = in_[pos_++];
      switch (c) {
        case '{':
          groups_.push_back(groups_.back());
          pendingFallback_ = 0;
          if (certainty_ != nullptr) certainty_->GroupOpened(groups_.size() - 1);
          break;
        case '}':
          pendingFallback_ = 0;
          // The group that opened the document closes it; what follows is not shown.
          if (groups_.size() <= 2) {
            if (certainty_ != nullptr) certainty_->DocumentClosed(in_.substr(pos_));
            return std::move(out_);
          }
          if (certainty_ != nullptr) certainty_->GroupClosing(groups_.size() - 1);
          groups_.pop_back();
          break;
        case '\\':
          ReadControl();
          break;
        case '\r':
        case '\n':
          break;  // line breaks of the source are not text
        default:
          Text(static_cast<unsigned char>(c));
          break;
      }
    }
    if (certainty_ != nullptr) certainty_->InputEnded();
    return std::move(out_);
  }

 private:
  // One displayed character of the text, unless it is the fallback of a preceding \uN.
  void Text(int byte) {
    if (ConsumeFallback()) return;
    Emit(byte);
  }

  void Emit(int byte) {
    if (byte < 0) return;
    if (!groups_.back().hidden) {
      // A judgement needs no text, and many threads judging at once share one heap.
      if (certainty_ == nullptr) out_.push_back(static_cast<char>(byte));
      if (certainty_ != nullptr) certainty_->Shown(static_cast<unsigned char>(byte));
    } else if (certainty_ != nullptr) {
      certainty_->HiddenByte(static_cast<unsigned char>(byte));
    }
  }

  void Break() {
    if (!groups_.back().hidden) {
      if (certainty_ == nullptr) out_ += "\r\n";
      if (certainty_ != nullptr) certainty_->Shown('\n');
    }
  }

  bool Shown() const { return !groups_.back().hidden; }

  bool ConsumeFallback() {
    if (pendingFallback_ <= 0) return false;
    --pendingFallback_;
    return true;
  }

  void ReadControl() {
    if (pos_ >= in_.size()) return;
    const char c = in_[pos_];
    if (!IsLetter(c)) {
      ++pos_;
      if (certainty_ != nullptr && c != '\'') certainty_->Symbol(c, Shown());
      ControlSymbol(c);
      return;
    }
    const size_t start = pos_;
    while (pos_ < in_.size() && IsLetter(in_[pos_])) ++pos_;
    // Words are at most 32 letters long; a longer run is one unknown word.
    const std::string_view word = in_.substr(start, std::min<size_t>(pos_ - start, 33));
    bool hasParameter = false;
    bool negative = false;
    int64_t parameter = 0;
    const size_t digitsStart = pos_;
    if (pos_ < in_.size() && in_[pos_] == '-' && pos_ + 1 < in_.size() &&
        IsDigit(in_[pos_ + 1])) {
      negative = true;
      ++pos_;
    }
    while (pos_ < in_.size() && IsDigit(in_[pos_])) {
      hasParameter = true;
      if (parameter < 100000000000LL) parameter = parameter * 10 + (in_[pos_] - '0');
      ++pos_;
    }
    if (negative) parameter = -parameter;
    if (certainty_ != nullptr) {
      // Parameters are 16- or 32-bit numbers; longer runs are read differently by controls.
      const bool tooLong = pos_ - digitsStart > 10 || digitsStart - start > 32;
      certainty_->Word(word, Shown(), hasParameter, parameter, tooLong);
    }
    // A single space ends a control word and belongs to it.
    if (pos_ < in_.size() && in_[pos_] == ' ') ++pos_;
    ControlWord(word, hasParameter, parameter);
  }

  void ControlSymbol(char c) {
    switch (c) {
      case '\\':
      case '{':
      case '}':
        Text(static_cast<unsigned char>(c));
        break;
      case '~':
        Text(0xA0);  // non-breaking space
        break;
      case '_':
        Text('-');  // non-breaking hyphen
        break;
      case '\'': {
        // Two characters belong to the symbol; unless both are hex digits it shows nothing.
        int byte = -1;
        if (pos_ + 1 < in_.size()) {
          const int high = HexValue(in_[pos_]);
          const int low = HexValue(in_[pos_ + 1]);
          if (high >= 0 && low >= 0) byte = high * 16 + low;
        }
        pos_ = std::min(pos_ + 2, in_.size());
        if (certainty_ != nullptr && byte <= 0 && Shown()) certainty_->Unsure();
        Text(byte == 0 ? -1 : byte);
        break;
      }
      case '*':
        // An ignorable destination: a reader that does not know it skips the group.
        groups_.back().hidden = true;
        break;
      case '\r':
      case '\n':
        if (!ConsumeFallback()) Break();  // a backslash before a source line break is \par
        break;
      default:
        ConsumeFallback();  // \- \| \: and unknown symbols show nothing
        break;
    }
  }

  void ControlWord(std::string_view word, bool hasParameter, int64_t parameter) {
    if (word == "u" && hasParameter) {
      // Negative values stand for the upper half of the 16-bit range.
      const int64_t value = parameter < 0 ? parameter + 65536 : parameter;
      const uint32_t code =
          value >= 0 && value <= 0x10FFFF ? static_cast<uint32_t>(value) : 0xFFFD;
      if (!groups_.back().hidden) {
        const int byte = AnsiByteOf(code);
        if (byte >= 0) out_.push_back(static_cast<char>(byte));
      }
      pendingFallback_ = groups_.back().fallbackLength;
      return;
    }
    if (word == "bin") {
      // Binary data of the given length follows; it is never text.
      const size_t length = hasParameter && parameter > 0 ? static_cast<size_t>(parameter) : 0;
      pos_ += std::min(length, in_.size() - pos_);
      return;
    }
    // Other control words do not count as fallback characters of a preceding \uN: the
    // rich-edit control skips only text and \'hh there.
    if (word == "uc") {
      groups_.back().fallbackLength =
          hasParameter ? static_cast<int>(std::clamp<int64_t>(parameter, 0, 255)) : 1;
    } else if (word == "par" || word == "line" || word == "sect" || word == "page" ||
               word == "row") {
      Break();
    } else if (word == "tab" || word == "cell") {
      Emit('\t');
    } else if (word == "emspace" || word == "enspace" || word == "qmspace") {
      Emit(' ');
    } else if (word == "bullet") {
      Emit(0x95);
    } else if (word == "lquote") {
      Emit(0x91);
    } else if (word == "rquote") {
      Emit(0x92);
    } else if (word == "ldblquote") {
      Emit(0x93);
    } else if (word == "rdblquote") {
      Emit(0x94);
    } else if (word == "endash") {
      Emit(0x96);
    } else if (word == "emdash") {
      Emit(0x97);
    } else if (IsHiddenDestination(word)) {
      groups_.back().hidden = true;
    }
  }

  std::string_view in_;
  RtfCertainty* certainty_;
  size_t pos_ = 0;
  std::vector<GroupState> groups_;
  int pendingFallback_ = 0;
  std::string out_;
};

}  // namespace

bool LooksLikeRtf(std::string_view text) {
  return text.substr(0, 5) == "{\\rtf" || text.substr(0, 6) == "{\\urtf";
}

std::string RtfPlainText(std::string_view text) {
  text = text.substr(0, std::min(text.size(), text.find('\0')));
  if (!LooksLikeRtf(text)) return std::string(text);
  return RtfReader(text, nullptr).Read();
}

RtfVerdict JudgeRichText(std::string_view text) {
  text = text.substr(0, std::min(text.size(), text.find('\0')));
  if (!LooksLikeRtf(text)) return PlainTextVerdict(text);
  RtfCertainty certainty;
  RtfReader(text, &certainty).Read();
  return certainty.Verdict();
}

}  // namespace qx
