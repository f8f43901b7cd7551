#include "rtf_plain_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "rtf_corpus.h"
#include "rtf_generator.h"
#include "sql_functions.h"

namespace {

using qx::JudgeRichText;
using qx::RtfPlainText;
using qx::RtfVerdict;
using namespace std::string_literals;

TEST(RtfPlainText, TextThatIsNotRichTextComesBackUnchanged) {
  EXPECT_EQ(RtfPlainText("hello {world} \\par"), "hello {world} \\par");
  EXPECT_EQ(RtfPlainText(" {\\rtf1 x}"), " {\\rtf1 x}");  // the marker must open the text
  EXPECT_EQ(RtfPlainText("{\\RTF1 x}"), "{\\RTF1 x}");
  EXPECT_EQ(RtfPlainText(""), "");
}

TEST(RtfPlainText, TextEndsAtTheFirstZeroByte) {
  EXPECT_EQ(RtfPlainText("ab\0cd"s), "ab");
  EXPECT_EQ(RtfPlainText("{\\rtf1 ab\0cd}"s), "ab");
}

TEST(RtfPlainText, ControlWordsShowNothingAndEatOneDelimitingSpace) {
  EXPECT_EQ(RtfPlainText("{\\rtf1\\ansi\\deff0\\f0\\fs20 Hello  world}"), "Hello  world");
  EXPECT_EQ(RtfPlainText("{\\rtf1\\b bold\\b0  plain}"), "bold plain");
  EXPECT_EQ(RtfPlainText("{\\rtf1\\fi-360\\li720 x}"), "x");  // negative parameter
  EXPECT_EQ(RtfPlainText("{\\rtf1\\sa200\r\nx}"), "x");       // source line breaks are no text
}

TEST(RtfPlainText, BreaksAndTabs) {
  EXPECT_EQ(RtfPlainText("{\\rtf1 a\\par b\\line c\\tab d}"), "a\r\nb\r\nc\td");
  EXPECT_EQ(RtfPlainText("{\\rtf1 a\\\r\nb}"), "a\r\nb");  // backslash + newline is \par
  EXPECT_EQ(RtfPlainText("{\\rtf1 one\\cell two\\cell\\row}"), "one\ttwo\t\r\n");
}

TEST(RtfPlainText, ControlSymbols) {
  EXPECT_EQ(RtfPlainText("{\\rtf1 \\{\\}\\\\}"), "{}\\");
  EXPECT_EQ(RtfPlainText("{\\rtf1 a\\~b\\-c\\_d}"), "a\xa0" "bc-d");
  EXPECT_EQ(RtfPlainText("{\\rtf1 \\emdash\\endash\\bullet\\lquote\\rquote}"),
            "\x97\x96\x95\x91\x92");
}

TEST(RtfPlainText, HexBytes) {
  EXPECT_EQ(RtfPlainText("{\\rtf1 caf\\'e9 \\'E9}"), "caf\xe9 \xe9");
  EXPECT_EQ(RtfPlainText("{\\rtf1 a\\'00b}"), "ab");  // a zero byte is no character
  EXPECT_EQ(RtfPlainText("{\\rtf1 a\\'zzb}"), "ab");  // not hex: the symbol shows nothing
  EXPECT_EQ(RtfPlainText("{\\rtf1 a\\'4"), "a");
}

TEST(RtfPlainText, UnicodeCharactersSkipTheirFallback) {
  EXPECT_EQ(RtfPlainText("{\\rtf1 \\u233?x}"), "\xe9x");                // default \uc1
  EXPECT_EQ(RtfPlainText("{\\rtf1 \\u233\\'e9x}"), "\xe9x");             // hex fallback
  EXPECT_EQ(RtfPlainText("{\\rtf1\\uc2 \\u8364 EUx}"), "\x80x");         // two characters
  EXPECT_EQ(RtfPlainText("{\\rtf1\\uc0 \\u233 x}"), "\xe9x");            // none
  EXPECT_EQ(RtfPlainText("{\\rtf1\\uc1 \\u8212\\emdash x}"), "\x97\x97");  // words do not count
  EXPECT_EQ(RtfPlainText("{\\rtf1{\\uc3 \\u233 a}b}"), "\xe9" "b");      // a brace ends it
  EXPECT_EQ(RtfPlainText("{\\rtf1 \\u-3913 ?}"), "?");                    // U+F0B7
  EXPECT_EQ(RtfPlainText("{\\rtf1 \\u8194 ?}"), " ");                     // en space
  EXPECT_EQ(RtfPlainText("{\\rtf1 \\u20013 ?}"), "?");                    // no 8-bit form
}

TEST(RtfPlainText, UcIsScopedToItsGroup) {
  EXPECT_EQ(RtfPlainText("{\\rtf1 {\\uc0 \\u233 }\\u233 ab}"), "\xe9\xe9" "b");
}

TEST(RtfPlainText, DestinationsThatDisplayNothingAreDropped) {
  EXPECT_EQ(RtfPlainText("{\\rtf1{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255;}"
                         "{\\stylesheet{\\s0 Normal;}}{\\info{\\title T}}x}"),
            "x");
  EXPECT_EQ(RtfPlainText("{\\rtf1{\\header h}{\\footerl f}{\\headerf g}{\\footer h}x}"), "x");
  EXPECT_EQ(RtfPlainText("{\\rtf1{\\pict\\pngblip 89504e47}{\\object{\\objdata 01}}x}"), "x");
  EXPECT_EQ(RtfPlainText("{\\rtf1{\\*\\anything at all{\\b nested}}x}"), "x");
  EXPECT_EQ(RtfPlainText("{\\rtf1{\\field{\\*\\fldinst HYPERLINK x}{\\fldrslt link}}}"), "link");
  // The group ends the destination; text after it shows again.
  EXPECT_EQ(RtfPlainText("{\\rtf1{\\info{\\author a}}b{\\fonttbl x}c}"), "bc");
}

TEST(RtfPlainText, BinaryDataIsSkippedByLength) {
  EXPECT_EQ(RtfPlainText("{\\rtf1{\\pict\\bin4 {}\\x}y}"), "y");
  EXPECT_EQ(RtfPlainText("{\\rtf1 a\\bin99"), "a");  // longer than the text
}

TEST(RtfPlainText, ReadingStopsWhenTheDocumentCloses) {
  EXPECT_EQ(RtfPlainText("{\\rtf1 a}b"), "a");
  EXPECT_EQ(RtfPlainText("{\\rtf1 a{b"), "ab");  // unclosed groups end with the text
  EXPECT_EQ(RtfPlainText("{\\rtf1 a}}}"), "a");
}

TEST(RtfPlainText, DeepNestingNeedsNoRecursion) {
  const std::string deep =
      "{\\rtf1" + std::string(100000, '{') + "x" + std::string(100000, '}') + "}";
  EXPECT_EQ(RtfPlainText(deep), "x");
}

TEST(RtfPlainText, LongControlWordsAndParametersAreBounded) {
  EXPECT_EQ(RtfPlainText("{\\rtf1\\" + std::string(1000, 'a') + " x}"), "x");
  EXPECT_EQ(RtfPlainText("{\\rtf1\\u99999999999999999999 x}"), "?");
}

// Mangled rich text never reads outside the input and never grows: every construct that
// shows something is at least as long in the source as what it shows.
TEST(RtfPlainText, MangledCorpusTextsStayWithinBounds) {
  std::mt19937 random(20261208);
  const std::string alphabet("{}\\'*uc0123456789abfpartxl -\r\n\0", 31);
  for (const auto& sample : qx::test::RtfCorpus()) {
    for (int round = 0; round < 300; ++round) {
      std::string text(sample.text);
      const int edits = 1 + static_cast<int>(random() % 8);
      for (int e = 0; e < edits && !text.empty(); ++e) {
        const size_t at = random() % text.size();
        switch (random() % 3) {
          case 0:
            text[at] = alphabet[random() % alphabet.size()];
            break;
          case 1:
            text.erase(at, 1 + random() % 4);
            break;
          default:
            text.insert(at, 1, alphabet[random() % alphabet.size()]);
            break;
        }
      }
      const std::string plain = RtfPlainText(text);
      ASSERT_LE(plain.size(), text.size()) << sample.name;
    }
  }
}

TEST(RtfPlainText, CorpusBlankness) {
  for (const auto& sample : qx::test::RtfCorpus()) {
    EXPECT_EQ(!qx::HasVisibleText(RtfPlainText(sample.text)), sample.blank) << sample.name;
  }
}

TEST(RtfJudge, SureOfFormattingTablesAndText) {
  EXPECT_EQ(JudgeRichText("{\\rtf1 hello}"), RtfVerdict::kVisible);
  EXPECT_EQ(JudgeRichText("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fnil\\fcharset0 Calibri;}}"
                          "{\\colortbl ;\\red255\\green0\\blue0;}{\\*\\generator Riched20;}"
                          "\\viewkind4\\uc1\\pard\\sa200\\f0\\fs22\\lang1043 {\\b x}\\par}\r\n"),
            RtfVerdict::kVisible);
  EXPECT_EQ(JudgeRichText("{\\rtf1\\pard\\tab\\par\\line}"), RtfVerdict::kBlank);
  EXPECT_EQ(JudgeRichText("{\\rtf1{\\info{\\title Quarterly}}{\\stylesheet{\\s0 Normal;}}\\par}"),
            RtfVerdict::kBlank);
  EXPECT_EQ(JudgeRichText("{\\rtf1 \\{\\par}"), RtfVerdict::kVisible);
  EXPECT_EQ(JudgeRichText("{\\rtf1 caf\\'e9}"), RtfVerdict::kVisible);  // 'c' decides
  EXPECT_EQ(JudgeRichText("{\\rtf1 \\'41\\par}"), RtfVerdict::kVisible);
}

TEST(RtfJudge, LeavesToTheControlWhatControlsMayReadDifferently) {
  for (const char* text : {
           "{\\rtf1{\\field{\\*\\fldinst PAGE}{\\fldrslt 1}}\\par}",  // fields
           "{\\rtf1{\\pict\\wmetafile8 0100}\\par}",                 // pictures
           "{\\rtf1{\\pict\\bin2 ab}x}",                              // binary data
           "{\\rtf1 \\u233?\\par}",                                    // Unicode
           "{\\rtf1 {\\v hidden}\\par}",                               // hidden text
           "{\\rtf1{\\stylesheet{\\s1\\v Hidden;}}\\s1 x}",           // hidden by style
           "{\\rtf1\\trowd\\cellx100\\intbl x\\cell\\row}",           // tables
           "{\\rtf1{\\*\\unknowndest words}\\par}",                    // unknown \* groups
           "{\\rtf1 \\foo x}",                                         // unknown words
           "{\\rtf1 \\-\\par}",                                        // soft hyphen
           "{\\rtf1 \\'e9\\par}",                                      // only non-ASCII
           "{\\rtf1 \\'81@}",                                          // a possible trail byte
           "{\\rtf1 \\'zz x}",                                         // malformed hex
           "{\\rtf1 x",                                                // unclosed
           "{\\rtf1 \\par}visible",                                    // text after the end
           "{\\rtf1{{{{{{{{x}}}}}}}}}",                                // nine deep
           "{\\rtf1 \\fonttbl x}",                                     // destination mid-group
           "{\\urtf1 x}",                                              // other headers
           "{\\rtf1\\fs123456789012 x}",                               // long parameter
       }) {
    EXPECT_EQ(JudgeRichText(text), RtfVerdict::kUnsure) << text;
  }
}

TEST(RtfJudge, PlainText) {
  EXPECT_EQ(JudgeRichText("hello"), RtfVerdict::kVisible);
  EXPECT_EQ(JudgeRichText(" \r\n\t"), RtfVerdict::kBlank);
  EXPECT_EQ(JudgeRichText(""), RtfVerdict::kBlank);
  EXPECT_EQ(JudgeRichText(" \0word"s), RtfVerdict::kBlank);  // the text ends at a zero byte
  EXPECT_EQ(JudgeRichText("\xa0 \xe9"), RtfVerdict::kUnsure);
  EXPECT_EQ(JudgeRichText("{\\pwd1 x}"), RtfVerdict::kUnsure);
}

// Where the judge is sure it never contradicts the reader it is built on.
TEST(RtfJudge, SureVerdictsAgreeWithTheReader) {
  qx::test::RtfGenerator generator(20261208);
  int sure = 0;
  for (int i = 0; i < 5000; ++i) {
    const std::string text = generator.Next();
    const RtfVerdict verdict = JudgeRichText(text);
    if (verdict == RtfVerdict::kUnsure) continue;
    ++sure;
    EXPECT_EQ(verdict == RtfVerdict::kBlank, !qx::HasVisibleText(RtfPlainText(text)))
        << i << ": " << text;
  }
  EXPECT_GT(sure, 500);
}

}  // namespace
