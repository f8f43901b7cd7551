// The blob functions through the export table, over in-memory blobs served by the
// server stand-in's callbacks.
#include <utility>
#include <vector>

#include "memory_blob.h"
#include "seh_guard.h"
#include "udf_test_support.h"

using qxhost::MemoryBlob;
using qxtest::TakeText;
using qxtest::Udf;

namespace {

std::string Value(const std::string& blob, const char* name, uint16_t segment = 65535) {
  MemoryBlob in = MemoryBlob::Input(blob, segment);
  return TakeText(Udf().GetBlobValue(in.descriptor(), name));
}

// Runs fn_TrimRTF and returns what reached the output blob.
std::string Trim(const std::string& blob, std::vector<uint16_t>* writes = nullptr) {
  MemoryBlob in = MemoryBlob::Input(blob);
  MemoryBlob out = MemoryBlob::Output();
  EXPECT_EQ(Udf().TrimRTF(in.descriptor(), out.descriptor()), out.descriptor());
  if (writes != nullptr) *writes = out.writeLengths();
  return out.data();
}

TEST(BlobReading, MissingBlobsReadAsEmptyWithoutCallbacks) {
  EXPECT_EQ(TakeText(Udf().GetBlobValue(nullptr, "")), "");
  MemoryBlob noHandle = MemoryBlob::Input("=x");
  noHandle.descriptor()->blobHandle = nullptr;
  EXPECT_EQ(TakeText(Udf().GetBlobValue(noHandle.descriptor(), "")), "");
  MemoryBlob zeroLength = MemoryBlob::Input("=x");
  zeroLength.descriptor()->totalLength = 0;
  EXPECT_EQ(TakeText(Udf().GetBlobValue(zeroLength.descriptor(), "")), "");
  EXPECT_TRUE(zeroLength.readRequests().empty());
  MemoryBlob empty = MemoryBlob::Input("");
  EXPECT_EQ(TakeText(Udf().GetBlobValue(empty.descriptor(), "")), "");
  EXPECT_TRUE(empty.readRequests().empty());
}

TEST(BlobReading, RequestsAreAtMost65535Bytes) {
  std::string body(65535 - 2, 'v');
  MemoryBlob exact = MemoryBlob::Input("k=" + body);
  EXPECT_EQ(TakeText(Udf().GetBlobValue(exact.descriptor(), "k")), body);
  EXPECT_EQ(exact.readRequests(), std::vector<uint16_t>({65535}));

  MemoryBlob oneMore = MemoryBlob::Input("k=" + body + "w");
  EXPECT_EQ(TakeText(Udf().GetBlobValue(oneMore.descriptor(), "k")), body + "w");
  EXPECT_EQ(oneMore.readRequests(), std::vector<uint16_t>({65535, 1}));
}

TEST(BlobReading, ShortSegmentsAreAssembledInOrder) {
  std::string value;
  for (int i = 0; i < 3000; ++i) value += static_cast<char>('a' + i % 26);
  std::string blob = "x=1\r\nlong=" + value + "\r\nz=2";
  EXPECT_EQ(Value(blob, "long", 1), value);
  EXPECT_EQ(Value(blob, "z", 7), "2");
  MemoryBlob in = MemoryBlob::Input(blob, 1);
  TakeText(Udf().GetBlobValue(in.descriptor(), "z"));
  EXPECT_EQ(in.readRequests().size(), blob.size());
  EXPECT_EQ(in.readRequests().front(), blob.size());  // asks for everything that is left
}

// Structured exceptions raised inside the server's read callback: one of the server's own,
// and an access violation.
constexpr DWORD kServerFault = 0xE0001234;

int16_t __cdecl RaisingRead(void*, unsigned char*, uint16_t, uint16_t*) {
  RaiseException(kServerFault, EXCEPTION_NONCONTINUABLE, 0, nullptr);
  return 0;
}

int16_t __cdecl FaultingRead(void*, unsigned char*, uint16_t, uint16_t*) {
  volatile uintptr_t unmapped = 16;
  *reinterpret_cast<volatile int*>(unmapped) = 1;
  return 0;
}

TEST(BlobReading, AFaultInsideTheServersCallbackReachesTheServerUnchanged) {
  const std::pair<BlobReadFn, DWORD> cases[] = {{RaisingRead, kServerFault},
                                                {FaultingRead, EXCEPTION_ACCESS_VIOLATION}};
  for (const auto& [read, code] : cases) {
    MemoryBlob in = MemoryBlob::Input("name=value");
    in.descriptor()->readSegment = read;
    const int32_t liveBefore = ib_util_live_blocks();
    auto call = [&] { Udf().GetBlobValue(in.descriptor(), "name"); };
    qxhost::SehOutcome outcome = qxhost::RunUnderSeh(call);
    EXPECT_TRUE(outcome.raised);
    // Not turned into the module's own failure: the server sees what was raised.
    EXPECT_EQ(outcome.code, code);
    EXPECT_EQ(ib_util_live_blocks(), liveBefore);
  }
  // The module answers as before afterwards.
  EXPECT_EQ(Value("name=value", "name"), "value");
}

TEST(BlobReading, AServerThatStopsDeliveringEndsTheRead) {
  MemoryBlob in = MemoryBlob::Input("a=1");
  in.descriptor()->totalLength = 100;  // claims more than it will deliver
  EXPECT_EQ(TakeText(Udf().GetBlobValue(in.descriptor(), "a")), "1");
  EXPECT_LE(in.readRequests().size(), 2u);
}

TEST(GetBlobValue, NamesValuesAndLineBreaks) {
  const std::string list = "a=1\r\nB=2\r\na=3";
  EXPECT_EQ(Value(list, "a"), "1");
  EXPECT_EQ(Value(list, "A"), "1");
  EXPECT_EQ(Value(list, "b"), "2");
  EXPECT_EQ(Value(list, "c"), "");
  EXPECT_EQ(Value("key==x", "key"), "=x");
  EXPECT_EQ(Value("key=a=b", "key"), "a=b");
  EXPECT_EQ(Value("x=1\r\nkey=\r\nkey=2", "key"), "");
  EXPECT_EQ(Value("key\r\nkey=2", "key"), "2");
  EXPECT_EQ(Value("key =1", "key"), "");
  EXPECT_EQ(Value("key =1", "key "), "1");
  EXPECT_EQ(Value("a=1\r\nk=v", "k=v"), "");
  EXPECT_EQ(Value("a=1\r\n=empty name\r\n=2", ""), "empty name");
  EXPECT_EQ(Value("a=1\nb=2\nc=3", "c"), "3");
  EXPECT_EQ(Value("a=1\rb=2\rc=3", "b"), "2");
  EXPECT_EQ(Value("name=value", "name"), "value");
  EXPECT_EQ(Value("v=trailing  \r\n", "v"), "trailing  ");
  EXPECT_EQ(Value(std::string("a=1\r\n\0b=2", 10), "b"), "");
  EXPECT_EQ(Value(std::string("a=1\0\r\nb=2", 10), "a"), "1");
  // LF CR ends two lines; the second, empty one matches an empty name only via "=".
  EXPECT_EQ(Value("a=1\n\r=x", ""), "x");
  EXPECT_EQ(Value("\r\n\r\nq=9", "Q"), "9");
}

TEST(TrimRtf, VisibleRichTextPassesThroughByteForByte) {
  const std::string rtf = "{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 Hello {\\b world}\\par}";
  EXPECT_EQ(Trim(rtf), rtf);
  const std::string withZero = std::string("{\\rtf1 x}\0tail after zero", 25);
  EXPECT_EQ(Trim(withZero), withZero);
  EXPECT_EQ(Trim("plain words"), "plain words");
  EXPECT_EQ(Trim("{\\rtf1\\ansi \\'a0}"), "{\\rtf1\\ansi \\'a0}");  // non-breaking space counts
}

TEST(TrimRtf, BlankRichTextGivesAnEmptyBlob) {
  std::vector<uint16_t> writes;
  EXPECT_EQ(Trim("{\\rtf1\\ansi{\\fonttbl{\\f0 Arial;}}\\f0 \\par\\tab  \\par\\line}", &writes), "");
  EXPECT_TRUE(writes.empty());
  EXPECT_EQ(Trim("{\\rtf1}"), "");
  EXPECT_EQ(Trim("   \r\n\t  \r\n"), "");
  EXPECT_EQ(Trim(""), "");
  MemoryBlob out = MemoryBlob::Output();
  EXPECT_EQ(Udf().TrimRTF(nullptr, out.descriptor()), out.descriptor());
  EXPECT_TRUE(out.writeLengths().empty());
}

TEST(TrimRtf, LargeResultsAreWrittenIn65535ByteChunks) {
  std::string big(200000, 'x');
  std::vector<uint16_t> writes;
  EXPECT_EQ(Trim(big, &writes), big);
  EXPECT_EQ(writes, std::vector<uint16_t>({65535, 65535, 65535, 3395}));
}

}  // namespace
