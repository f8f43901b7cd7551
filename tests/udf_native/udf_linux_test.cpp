// The Linux exports over a stand-in for the engine's allocator: results are fresh blocks,
// and a failure inside a call comes back as a null result (SQL NULL) without leaking.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "exports.h"
#include "platform.h"
#include "platform_linux.h"

namespace {

int g_liveBlocks = 0;
bool g_allocatorFails = false;

}  // namespace

extern "C" void* ib_util_malloc(IbUtilSize size) {
  if (g_allocatorFails || size < 0) return nullptr;
  ++g_liveBlocks;
  return std::malloc(static_cast<size_t>(size));
}

namespace {

// What the engine does with a text result once it has copied it.
std::string TakeResult(char* result) {
  if (result == nullptr) return "<null>";
  std::string text(result);
  std::free(result);
  --g_liveBlocks;
  return text;
}

struct MemoryBlob {
  explicit MemoryBlob(std::string bytes = {}) : data(std::move(bytes)) {}
  std::string data;
  size_t offset = 0;
  std::vector<uint16_t> writes;
  bool throwOnRead = false;
};

int16_t ReadSegment(void* handle, unsigned char* buffer, uint16_t size, uint16_t* actual) {
  auto* blob = static_cast<MemoryBlob*>(handle);
  if (blob->throwOnRead) throw std::runtime_error("read failed");
  const size_t n = std::min<size_t>(size, blob->data.size() - blob->offset);
  std::memcpy(buffer, blob->data.data() + blob->offset, n);
  blob->offset += n;
  *actual = static_cast<uint16_t>(n);
  return 1;
}

void WriteSegment(void* handle, const unsigned char* buffer, uint16_t length) {
  auto* blob = static_cast<MemoryBlob*>(handle);
  blob->data.append(reinterpret_cast<const char*>(buffer), length);
  blob->writes.push_back(length);
}

BlobDescriptor Descriptor(MemoryBlob* blob) {
  BlobDescriptor d{};
  d.readSegment = ReadSegment;
  d.writeSegment = WriteSegment;
  d.blobHandle = blob;
  d.totalLength = static_cast<int32_t>(blob->data.size());
  return d;
}

class UdfLinux : public ::testing::Test {
 protected:
  void SetUp() override {
    g_liveBlocks = 0;
    g_allocatorFails = false;
  }
  void TearDown() override { EXPECT_EQ(g_liveBlocks, 0); }
};

TEST_F(UdfLinux, TextResultsAreFreshServerBlocks) {
  const int32_t v = -42;
  EXPECT_EQ(TakeResult(fn_inttocnk(&v)), "-0000042");
  EXPECT_EQ(TakeResult(fn_strReplace("banana", "ana", "x")), "bxna");
  char* empty = fn_strReplace("abc", "abc", "");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], '\0');
  EXPECT_EQ(TakeResult(empty), "");
}

TEST_F(UdfLinux, AnExhaustedAllocatorGivesNullResultsAndCountsFailures) {
  const unsigned before = qx::UdfFailureCount();
  g_allocatorFails = true;
  const int32_t v = 1;
  const double d = 1.5;
  MemoryBlob lines{"a=1"};
  BlobDescriptor blob = Descriptor(&lines);
  EXPECT_EQ(fn_inttocnk(&v), nullptr);
  EXPECT_EQ(fn_formatDouble(&d), nullptr);
  EXPECT_EQ(fn_strReplace("a", "a", "b"), nullptr);
  EXPECT_EQ(fn_GetBlobValue(&blob, "a"), nullptr);
  EXPECT_EQ(qx::UdfFailureCount(), before + 4);
  // Functions that allocate nothing are untouched.
  const int32_t a = 5, m = 2;
  EXPECT_EQ(fn_setbit(&a, &m), 7);
}

TEST_F(UdfLinux, AFailedTrimRtfWritesNothingAndLeavesANullOutputBlob) {
  MemoryBlob input{"{\\rtf1 words}"};
  input.throwOnRead = true;
  MemoryBlob output;
  BlobDescriptor in = Descriptor(&input);
  BlobDescriptor out = Descriptor(&output);
  const unsigned before = qx::UdfFailureCount();
  EXPECT_EQ(fn_TrimRTF(&in, &out), nullptr);
  EXPECT_EQ(out.blobHandle, nullptr);
  EXPECT_TRUE(output.writes.empty());
  EXPECT_EQ(qx::UdfFailureCount(), before + 1);
}

TEST_F(UdfLinux, TrimRtfUsesOurReader) {
  MemoryBlob input{std::string("{\\rtf1{\\fonttbl{\\f0 Arial;}}\\f0 x}\0tail", 36)};
  MemoryBlob output;
  BlobDescriptor in = Descriptor(&input);
  BlobDescriptor out = Descriptor(&output);
  EXPECT_EQ(fn_TrimRTF(&in, &out), &out);
  EXPECT_EQ(output.data, input.data);  // all bytes, also after the zero byte

  MemoryBlob blankInput{"{\\rtf1{\\fonttbl{\\f0 Visible Font Name;}}\\tab\\par}"};
  MemoryBlob blankOutput;
  in = Descriptor(&blankInput);
  out = Descriptor(&blankOutput);
  EXPECT_EQ(fn_TrimRTF(&in, &out), &out);
  EXPECT_TRUE(blankOutput.writes.empty());
}

TEST_F(UdfLinux, NoDoubleByteRuleOnLinux) {
  EXPECT_EQ(qx::LeadBytePredicateForSystem(), nullptr);
  EXPECT_EQ(TakeResult(fn_strReplace("\x81\x5c\x5c", "\x5c", "/")), "\x81//");
}

TEST_F(UdfLinux, NamesCompareWithoutCaseByBytes) {
  EXPECT_TRUE(qx::NamesEqualIgnoringCase("Key", "kEY"));
  EXPECT_TRUE(qx::NamesEqualIgnoringCase("", ""));
  EXPECT_FALSE(qx::NamesEqualIgnoringCase("key", "key "));
  EXPECT_FALSE(qx::NamesEqualIgnoringCase("ke", "key"));
  // Names are compared over their full length, not up to a zero byte.
  EXPECT_FALSE(qx::NamesEqualIgnoringCase(std::string_view("a\0b", 3),
                                          std::string_view("A\0c", 3)));
  EXPECT_TRUE(qx::NamesEqualIgnoringCase(std::string_view("a\0b", 3),
                                         std::string_view("A\0B", 3)));
  EXPECT_FALSE(qx::NamesEqualIgnoringCase(std::string_view("a\0", 2), "ab"));
}

}  // namespace
