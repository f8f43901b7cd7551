#include "rtf_generator.h"

#include <cstdio>

namespace qx::test {

namespace {

constexpr int kMaxDepth = 8;

template <size_t N>
const char* Pick(const char* const (&list)[N], uint32_t index) {
  return list[index % N];
}

const char* const kFormatting[] = {
    "\\b ",    "\\b0 ",   "\\i ",     "\\ul ",   "\\ulnone ", "\\f0 ",   "\\f1 ",
    "\\fs20 ", "\\fs44 ", "\\cf1 ",   "\\cf2 ",  "\\lang1043 ", "\\pard ", "\\plain ",
    "\\qc ",   "\\li720 ", "\\fi-360 ", "\\sa200 ", "\\sl276\\slmult1 ", "\\s1 ", "\\super ",
    "\\highlight1 ", "\\ltrch\\fcs0 ", "\\insrsid123 ", "\\uc0 ", "\\uc1 ", "\\uc2 ",
    "\\caps ", "\\strike ", "\\nosupersub ",
};

const char* const kBreaks[] = {
    "\\par ", "\\par\r\n", "\\line ", "\\tab ", "\\page ", "\\sect ", "\\cell ", "\\row ",
    "\\emspace ", "\\enspace ", "\\\r\n",
};

const char* const kTypographic[] = {
    "\\emdash ", "\\endash ", "\\bullet ", "\\lquote ", "\\rquote ", "\\ldblquote ",
    "\\rdblquote ",
};

const char* const kUnknownWords[] = {
    "\\foo ", "\\nouicompat ", "\\viewkind4 ", "\\abcdefghijklmnopqrstuvwxyzabcdefgh ",
    "\\fs999999999999 ", "\\chshdng0 ", "\\rtf1 ",
};

const char* const kVisibleWords[] = {"hello", "x", "Factuur", "42", "a-b", "(", ".", "@"};
const char* const kBlankRuns[] = {" ", "  ", "\t", "\r\n", " \t "};

}  // namespace

uint32_t RtfGenerator::Below(uint32_t n) {
  // xorshift32: small, and the same sequence everywhere.
  state_ ^= state_ << 13;
  state_ ^= state_ >> 17;
  state_ ^= state_ << 5;
  return state_ % n;
}

std::string RtfGenerator::Words() {
  if (blankish_ && !Chance(10)) return Pick(kBlankRuns, Below(100));
  std::string s = Pick(kVisibleWords, Below(100));
  if (Chance(40)) s += " ";
  return s;
}

std::string RtfGenerator::HexByte() {
  static const char* const bytes[] = {"00", "20", "09", "41", "a0", "e9", "E9", "81",
                                      "40", "b7", "ad", "7f", "80", "zz", "4"};
  std::string s = "\\'";
  s += Pick(bytes, Below(100));
  if (Chance(20)) s += "\\'40";  // a possible trail byte
  return s;
}

std::string RtfGenerator::Unicode() {
  static const char* const codes[] = {"233", "8364", "32", "-3913", "8194", "20013", "0",
                                      "160", "65", "12288", "173", "8203"};
  static const char* const fallbacks[] = {"?", "\\'e9", " ", "x", "EU", "", "\\emdash ",
                                          "{x}", "\\'20"};
  std::string s = "\\u";
  s += Pick(codes, Below(100));
  s += Chance(50) ? " " : "";
  s += Pick(fallbacks, Below(100));
  return s;
}

std::string RtfGenerator::Symbol() {
  static const char* const symbols[] = {"\\~", "\\_", "\\-", "\\|", "\\:", "\\{",
                                        "\\}", "\\\\", "\\*", "\\#", "\\ "};
  return Pick(symbols, Below(100));
}

std::string RtfGenerator::PlainText() {
  static const char* const pieces[] = {" ", "\r\n", "\t", "word", "\xa0", "\xe9", "\x81@",
                                       "{", "}", "\\par", "\x01", "\x7f", "{\\rtf1 x}"};
  std::string s;
  if (Chance(10)) s = "{\\pwd1 ";
  const uint32_t count = Below(12);
  for (uint32_t i = 0; i < count; ++i) {
    const char* piece = Pick(pieces, blankish_ && Chance(80) ? Below(3) : Below(100));
    s += piece;
  }
  return s;
}

std::string RtfGenerator::Header() {
  std::string s = Chance(3) ? "{\\urtf1" : "{\\rtf1";
  if (Chance(70)) s += "\\ansi";
  static const char* const codePages[] = {"", "\\ansicpg1252", "\\ansicpg1251", "\\ansicpg932",
                                          "\\ansicpg1250"};
  s += Pick(codePages, Below(100));
  if (Chance(60)) s += "\\deff0";
  if (Chance(50)) s += "\\uc1 ";
  if (Chance(60)) {
    static const char* const charsets[] = {"0", "2", "128", "204", "238"};
    s += "{\\fonttbl{\\f0\\fnil\\fcharset";
    s += Pick(charsets, Below(100));
    s += " Calibri;}{\\f1\\fswiss\\fcharset";
    s += Pick(charsets, Below(100));
    s += " Arial;}}";
  }
  if (Chance(40)) s += "{\\colortbl ;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}";
  if (Chance(20)) s += "{\\stylesheet{\\s0 Normal;}{\\s1\\v Hidden;}}";
  if (Chance(20)) s += "{\\*\\generator Riched20 10.0.19041;}";
  if (Chance(50)) s += "\\viewkind4\\uc1 \\pard\\sa200\\sl276\\slmult1\\f0\\fs22\\lang1043 ";
  return s;
}

void RtfGenerator::Element(std::string& out, int depth, int& budget) {
  --budget;
  if (tame_) {
    TameElement(out, depth, budget);
    return;
  }
  const uint32_t kind = Below(100);
  if (kind < 30) {
    out += Words();
  } else if (kind < 40) {
    out += Pick(kFormatting, Below(1000));
  } else if (kind < 50) {
    out += Pick(kBreaks, Below(1000));
  } else if (kind < 54) {
    out += Pick(kTypographic, Below(1000));
  } else if (kind < 58) {
    out += HexByte();
  } else if (kind < 62) {
    out += Unicode();
  } else if (kind < 66) {
    out += Symbol();
  } else if (kind < 68) {
    out += Pick(kUnknownWords, Below(1000));
  } else if (kind < 70) {
    out += "\r\n";  // a line break of the source
  } else if (depth < kMaxDepth) {
    static const char* const openers[] = {
        "",           "\\b ",       "\\*\\unknowndest ", "\\*\\generator ", "\\*\\bkmkstart ",
        "\\v ",       "\\pict\\wmetafile8\\picw100\\pich100 ", "\\header ", "\\footer ",
        "\\info ",    "\\fonttbl ", "\\colortbl ", "\\pntext ", "\\*\\pn\\pnlvlblt ",
        "\\fldrslt ", "\\object ",  "\\*\\fldinst ", "\\deleted ", "\\listtext ", "\\uc2 ",
        "\\*",
    };
    out += '{';
    // A field and a table add their own groups below this one.
    if (depth + 3 <= kMaxDepth && Chance(8)) {
      out += "\\field{\\*\\fldinst{HYPERLINK \"http://example.com\"}}{\\fldrslt{";
      out += Words();
      out += "}}}";
      return;
    }
    if (Chance(6)) {
      static const char raw[] = {'{', '}', '\\', 'A', ' ', '\r', '\x80', 'z'};
      const uint32_t length = Below(6);
      out += "\\pict\\bin" + std::to_string(length) + " ";
      for (uint32_t i = 0; i < length; ++i) out += raw[Below(sizeof raw)];
      out += "}";
      return;
    }
    if (depth + 1 < kMaxDepth && Chance(5)) {
      out += "\\trowd\\cellx1000\\cellx2000\\pard\\intbl ";
      out += Words();
      out += "\\cell\\cell\\row}";
      return;
    }
    out += Pick(openers, Below(1000));
    Body(out, depth + 1, budget / 2);
    out += '}';
  } else {
    out += Words();
  }
}

// Only what the reader may judge on its own, to put its certainty to the test.
void RtfGenerator::TameElement(std::string& out, int depth, int& budget) {
  const uint32_t kind = Below(100);
  if (kind < 35) {
    out += Words();
  } else if (kind < 50) {
    out += Pick(kFormatting, Below(1000));
  } else if (kind < 62) {
    static const char* const breaks[] = {"\\par ", "\\line ", "\\tab ", "\\par\r\n", "\\\r\n"};
    out += Pick(breaks, Below(1000));
  } else if (kind < 66) {
    out += Pick(kTypographic, Below(1000));
  } else if (kind < 72) {
    out += HexByte();
  } else if (kind < 76) {
    static const char* const symbols[] = {"\\~", "\\{", "\\}", "\\\\"};
    out += Pick(symbols, Below(1000));
  } else if (depth < kMaxDepth) {
    static const char* const openers[] = {
        "", "\\b ", "\\i\\f1 ", "\\*\\generator ", "\\*\\bkmkstart ", "\\info ",
        "\\fonttbl ", "\\stylesheet ", "\\colortbl ", "\\*\\panose ", "\\uc0 ",
    };
    out += '{';
    out += Pick(openers, Below(1000));
    Body(out, depth + 1, budget / 2);
    out += '}';
  } else {
    out += Words();
  }
}

void RtfGenerator::Body(std::string& out, int depth, int budget) {
  const uint32_t count = 1 + Below(6);
  for (uint32_t i = 0; i < count && budget > 0; ++i) Element(out, depth, budget);
}

std::string RtfGenerator::Next() {
  blankish_ = Chance(55);
  if (Chance(12)) {
    std::string plain = PlainText();
    if (Chance(10)) plain += std::string(1, '\0') + "after zero";
    return plain;
  }
  tame_ = Chance(45);
  std::string s = Header();
  Body(s, 1, 24);
  tame_ = false;
  if (Chance(8)) s += std::string(1, '\0') + "visible after a zero byte}";
  if (!Chance(6)) s += "}";  // now and then the document stays open
  if (Chance(6)) s += Chance(50) ? "visible after the end" : "\r\n";
  return s;
}

}  // namespace qx::test
