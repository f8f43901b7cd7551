// Our rich-text reader against the rich-edit control it stands in for, over the corpus:
// both must agree on whether a text displays anything; where the plain texts differ the
// test lists them so a change in either shows up in the log.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform.h"
#include "rtf_corpus.h"
#include "rtf_plain_text.h"
#include "sql_functions.h"

namespace {

std::string Escaped(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 32 || c >= 127 || c == '\\') {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

TEST(RichEditCrossCheck, AgreesOnBlankTextOverTheCorpus) {
  int differing = 0;
  for (const auto& sample : qx::test::RtfCorpus()) {
    const std::string text(sample.text);
    const std::string ours = qx::RtfPlainText(text);
    std::string control;
    ASSERT_NO_THROW(control = qx::RichTextToPlain(text)) << sample.name;
    const bool oursBlank = !qx::HasVisibleText(ours);
    const bool controlBlank = !qx::HasVisibleText(control);
    if (sample.controlDeviation == nullptr) {
      EXPECT_EQ(oursBlank, controlBlank)
          << sample.name << ": ours \"" << Escaped(ours) << "\", control \""
          << Escaped(control) << "\"";
    } else {
      // A known difference of Wine's control; should Wine change, this says so.
      EXPECT_NE(oursBlank, controlBlank) << sample.name << ": " << sample.controlDeviation;
      std::printf("known deviation: %s: %s\n", sample.name, sample.controlDeviation);
    }
    EXPECT_EQ(oursBlank, sample.blank) << sample.name << ": corpus expectation";
    if (ours != control) {
      ++differing;
      std::printf("plain text differs: %-34s ours \"%s\"  control \"%s\"\n", sample.name,
                  Escaped(ours).c_str(), Escaped(control).c_str());
    }
  }
  std::printf("%d of %zu samples differ in plain text\n", differing,
              qx::test::RtfCorpus().size());
}

}  // namespace
