// The converter fn_TrimRTF uses on Windows against the one it replaced (a hidden window
// and rich-edit control per call), over the corpus and generated rich texts: the same
// blank-or-not answer for every text, and where the control is asked, the same plain text.
// Also: a conversion stuck inside the control holds up no answer the reader can give, and
// every wait for the stuck control (a call, the unload) ends within its limit.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "control_stall_win.h"
#include "platform.h"
#include "rich_text_win.h"
#include "rtf_corpus.h"
#include "rtf_generator.h"
#include "rtf_plain_text.h"
#include "sql_functions.h"
#include "udf_failure.h"

namespace {

constexpr uint32_t kSeed = 20261208;
constexpr int kGeneratedTexts = 2000;

std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c >= 32 && c < 127 && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    }
  }
  return out;
}

struct Tally {
  int sureBlank = 0;
  int sureVisible = 0;
  int unsure = 0;
  int total = 0;
};

// Compares the two converters on one text; returns whether they agree.
bool Compare(const std::string& text, const std::string& label, Tally& tally) {
  ++tally.total;
  const std::string reference = qx::RichTextToPlain(text);  // today's per-call control
  const bool referenceBlank = !qx::HasVisibleText(reference);
  std::string controlText = "<not asked>";
  const bool blank = qx::RichTextIsBlank(text, &controlText);
  switch (qx::JudgeRichText(text)) {
    case qx::RtfVerdict::kBlank:
      ++tally.sureBlank;
      break;
    case qx::RtfVerdict::kVisible:
      ++tally.sureVisible;
      break;
    case qx::RtfVerdict::kUnsure:
      ++tally.unsure;
      EXPECT_EQ(controlText, reference) << label << ": \"" << Escaped(text) << "\"";
      break;
  }
  EXPECT_EQ(blank, referenceBlank) << label << ": \"" << Escaped(text) << "\" control \""
                                   << Escaped(reference) << "\"";
  return blank == referenceBlank;
}

TEST(RichTextDifferential, SameAnswersAsThePerCallControl) {
  Tally tally;
  for (const auto& sample : qx::test::RtfCorpus()) {
    Compare(std::string(sample.text), sample.name, tally);
  }
  qx::test::RtfGenerator generator(kSeed);
  int disagreements = 0;
  for (int i = 0; i < kGeneratedTexts; ++i) {
    const std::string text = generator.Next();
    if (!Compare(text, "generated #" + std::to_string(i) + " of seed " + std::to_string(kSeed),
                 tally)) {
      ++disagreements;
    }
  }
  std::printf("%d texts: %d blank and %d visible by the reader, %d by the control\n",
              tally.total, tally.sureBlank, tally.sureVisible, tally.unsure);
  EXPECT_EQ(disagreements, 0);
  EXPECT_EQ(tally.total, static_cast<int>(qx::test::RtfCorpus().size()) + kGeneratedTexts);
  // Both ways of answering are exercised, each on both kinds of answer.
  EXPECT_GT(tally.sureBlank, 100);
  EXPECT_GT(tally.sureVisible, 100);
  EXPECT_GT(tally.unsure, 100);
}

TEST(RichTextDifferential, StuckConversionBlocksOthersOnlyWithinTheLimit) {
  const std::string field = "{\\rtf1{\\field{\\*\\fldinst PAGE}{\\fldrslt }}stuck\\par}";
  ASSERT_EQ(qx::JudgeRichText(field), qx::RtfVerdict::kUnsure);
  qx::SetRichTextWaitLimits(300, 300);
  qx::test::ControlStall stall;
  int stuckAnswer = -1;
  std::thread stuck([&] {
    stall.Install();
    stuckAnswer = qx::RichTextIsBlank(field) ? 1 : 0;
    stall.Remove();
  });
  ASSERT_TRUE(stall.WaitUntilStalled());

  // Answers the reader is sure of do not touch the control.
  EXPECT_FALSE(qx::RichTextIsBlank("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 words\\par}"));
  EXPECT_TRUE(qx::RichTextIsBlank("{\\rtf1\\ansi\\pard\\tab\\par}"));
  EXPECT_FALSE(qx::RichTextIsBlank("plain words"));
  // One that needs the control fails once the limit has passed, as a control failure.
  bool failed = false;
  try {
    qx::RichTextIsBlank("{\\rtf1{\\pict\\wmetafile8 0100}\\par}");
  } catch (const qx::RichTextFailure&) {
    failed = true;
  }
  EXPECT_TRUE(failed);
  // Unload gives up on the stuck conversion and leaves the library in place for it.
  EXPECT_FALSE(qx::ReleaseRichTextLibrary());
  EXPECT_NE(GetModuleHandleA("riched32.dll"), nullptr);

  stall.Release();
  stuck.join();
  EXPECT_EQ(stuckAnswer, 0);
  // Once the control is free again, everything works and unload releases the library.
  EXPECT_TRUE(qx::RichTextIsBlank("{\\rtf1{\\pict\\wmetafile8 0100}\\par}"));
  EXPECT_TRUE(qx::ReleaseRichTextLibrary());
  EXPECT_EQ(GetModuleHandleA("riched32.dll"), nullptr);
  qx::SetRichTextWaitLimits(qx::kDefaultControlWaitMs, qx::kDefaultUnloadWaitMs);
}

}  // namespace
