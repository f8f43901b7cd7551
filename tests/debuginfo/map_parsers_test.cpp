#include <gtest/gtest.h>

#include <random>

#include "map_cache.h"
#include "map_fuzz_input.h"
#include "map_file.h"
#include "map_sources.h"
#include "map_stream.h"
#include "map_test_support.h"

namespace qx {
namespace {

using test::FakeEnvironment;
using test::MakeImage;

constexpr uint32_t kHandle = 0x10000000;
constexpr uint32_t kCode = kHandle + 0x1000;
const std::string kModule = "C:\\app\\Mod.dll";

// --- packed values and the stream --------------------------------------------------------

TEST(PackedValues, IntegersDecodeTheSignedByteAndTheEscape) {
  TMiniStream s(std::string("\x7f\x81\x80\x00\x01\x00\x00\x00\x80\xff", 10));
  int32_t v = 0;
  ASSERT_TRUE(ReadPackedInt(s, v));
  EXPECT_EQ(v, 127);
  ASSERT_TRUE(ReadPackedInt(s, v));
  EXPECT_EQ(v, -127);
  ASSERT_TRUE(ReadPackedInt(s, v));
  EXPECT_EQ(v, 256);
  ASSERT_TRUE(ReadPackedInt(s, v));
  EXPECT_EQ(v, 0);
  EXPECT_FALSE(ReadPackedInt(s, v));  // escape without its four bytes
}

TEST(PackedValues, IntegersRoundTripAndUseOneByteInsideTheirRange) {
  for (int32_t value : {0, 1, -1, 127, -127, 128, -128, 70000, INT32_MIN, INT32_MAX}) {
    std::string out;
    WritePackedInt(out, value);
    EXPECT_EQ(out.size(), value >= -127 && value <= 127 ? 1u : 5u) << value;
    TMiniStream s(out);
    int32_t back = 0;
    ASSERT_TRUE(ReadPackedInt(s, back));
    EXPECT_EQ(back, value);
  }
}

TEST(PackedValues, TextLongerThanTheRestKeepsThePreviousText) {
  TMiniStream s(std::string("\x03" "abc" "\x09" "xy", 7));
  std::string text = "old";
  ASSERT_TRUE(ReadPackedText(s, text));
  EXPECT_EQ(text, "abc");
  ASSERT_TRUE(ReadPackedText(s, text));
  EXPECT_EQ(text, "abc");
  EXPECT_EQ(s.Position(), 5);  // only the length byte was consumed
}

TEST(MiniStream, ReadsCopyWhatRemainsAndRefuseNegativeArguments) {
  TMiniStream s(std::string("12345"));
  EXPECT_EQ(s.Capacity(), 8192);
  char buf[8] = {};
  EXPECT_EQ(s.Read(buf, -1), 0);
  EXPECT_EQ(s.Read(buf, 3), 3);
  EXPECT_EQ(s.Read(buf, 8), 2);
  EXPECT_EQ(std::string(buf, 2), "45");
  s.Seek(-2);
  EXPECT_EQ(s.Read(buf, 2), 0);
  s.SetSize(8193);
  EXPECT_EQ(s.Capacity(), 16384);
}

TEST(MapArrays, GrowTo16ThenByHalf) {
  TMfArray<TMfLine> a;
  std::vector<size_t> capacities;
  for (int i = 0; i < 40; ++i) {
    a.Add({});
    if (capacities.empty() || capacities.back() != a.Capacity()) capacities.push_back(a.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<size_t>{16, 24, 36, 54}));
}

// --- item rules ---------------------------------------------------------------------------

TEST(ItemRules, SegmentsOfOneUnitWithinTwoBytesJoin) {
  TMapFile m;
  AddSegment(m, true, 0x100, 0x10, "A");
  AddSegment(m, true, 0x112, 0x10, "A");  // 2 bytes after: extends
  AddSegment(m, true, 0x125, 0x10, "A");  // 3 bytes after: new
  AddSegment(m, false, 0x500, 0x10, "A");
  ASSERT_EQ(m.segments.Count(), 3u);
  EXPECT_EQ(m.segments[0].length, 0x22u);
  EXPECT_EQ(m.segments[1].begin, 0x125u);
}

TEST(ItemRules, MergingDropsEmptyAndDuplicateStartsCutsOverlapsAndJoinsEqualNames) {
  TMapFile m;
  InsertSegment(m, true, 0x300, 0x100, "C");
  InsertSegment(m, true, 0x100, 0x150, "A");  // overlaps B: cut to 0x100
  InsertSegment(m, true, 0x200, 0x80, "B");
  InsertSegment(m, true, 0x200, 0x90, "X");  // same start as B: dropped
  InsertSegment(m, true, 0x280, 0x80, "b");  // same name as B: joined
  InsertSegment(m, true, 0x400, 0, "Z");
  InsertSegment(m, false, 0x50, 0x10, "D");
  MergeSegments(m);
  ASSERT_EQ(m.segments.Count(), 4u);
  EXPECT_EQ(m.segments[0].name, "D");
  EXPECT_EQ(m.segments[0].isCode, 0);
  EXPECT_EQ(m.segments[1].length, 0x100u);
  EXPECT_EQ(m.segments[2].name, "B");
  EXPECT_EQ(m.segments[2].length, 0x100u);
  EXPECT_EQ(m.segments[3].name, "C");
}

TEST(ItemRules, PublicNamesAreSkippedReducedAndQualified) {
  bool skipped = false;
  PublicDisplayName("@$xp$Unit1", "Unit1", &skipped);
  EXPECT_TRUE(skipped);
  EXPECT_EQ(PublicDisplayName("@$x", "U", &skipped), "$x");  // too short for the skip rule
  EXPECT_EQ(PublicDisplayName("@Unit1@TForm1@Click$qqrv", "Unit1", nullptr), "TForm1.Click");
  EXPECT_EQ(PublicDisplayName("@Other@Run$qqrv", "Unit1", nullptr), "Other.Run");
  EXPECT_EQ(PublicDisplayName("@Unit1@Unit1$qqrv", "Unit1", nullptr), "initialization");
  EXPECT_EQ(PublicDisplayName("Unit1", "unit1", nullptr), "initialization");
  EXPECT_EQ(PublicDisplayName("Plain::Name", "u.cpp", nullptr), "Plain::Name");
}

// --- searches -----------------------------------------------------------------------------

TMapFile SampleMap() {
  TMapFile m;
  m.isValid = true;
  m.moduleFileName = kModule;
  m.topOfCode = 0x1000;
  AddSegment(m, false, 0x2000, 0x100, "data");
  AddSegment(m, true, 0x100, 0x100, "alpha.cpp");
  AddSegment(m, true, 0x200, 0x100, "beta.cpp");
  MergeSegments(m);
  AddPublic(m, true, "First", 0x100, "alpha.cpp");
  AddPublic(m, true, "Second", 0x180, "alpha.cpp");
  AddPublic(m, true, "Third", 0x200, "beta.cpp");
  AddPublic(m, false, "Value", 0x2000, "data");
  SortPublics(m);
  AddLine(m, 10, 0x100);
  AddLine(m, 11, 0x104);
  AddLine(m, 20, 0x180);
  AddLine(m, 30, 0x200);
  return m;
}

TEST(Searches, SegmentAtHonoursKindAndBounds) {
  TMapFile m = SampleMap();
  EXPECT_EQ(SegmentAt(m, true, 0xff), nullptr);
  EXPECT_EQ(SegmentAt(m, true, 0x100)->name, "alpha.cpp");
  EXPECT_EQ(SegmentAt(m, true, 0x1ff)->name, "alpha.cpp");
  EXPECT_EQ(SegmentAt(m, true, 0x2ff)->name, "beta.cpp");
  EXPECT_EQ(SegmentAt(m, true, 0x300), nullptr);
  EXPECT_EQ(SegmentAt(m, true, 0x2000), nullptr);
  EXPECT_EQ(SegmentAt(m, false, 0x2000)->name, "data");
}

TEST(Searches, PublicAtStopsAtTopOfCodeAfterTheLastPublic) {
  TMapFile m = SampleMap();
  EXPECT_EQ(PublicAt(m, 0xff), nullptr);
  EXPECT_EQ(PublicAt(m, 0x17f)->name, "First");
  EXPECT_EQ(PublicAt(m, 0x180)->name, "Second");
  EXPECT_EQ(PublicAt(m, 0x1fff)->name, "Third");
  EXPECT_EQ(PublicAt(m, 0x2001), nullptr);  // last public, beyond top of code
  m.topOfCode = 0;
  EXPECT_EQ(PublicAt(m, 0x2001)->name, "Value");
}

TEST(Searches, PublicByNameRetriesSourceExtensions) {
  TMapFile m = SampleMap();
  EXPECT_EQ(PublicByName(m, true, "ALPHA.CPP", true, "Second"), 0x180u);
  EXPECT_EQ(PublicByName(m, true, "alpha", true, "Second"), 0x180u);
  EXPECT_EQ(PublicByName(m, true, "alpha", true, "second"), 0u);
  EXPECT_EQ(PublicByName(m, true, "alpha", false, "second"), 0x180u);
  EXPECT_EQ(PublicByName(m, true, "alpha", false, "Third"), 0u);  // in another unit
  EXPECT_EQ(PublicByName(m, false, "data", true, "Value"), 0x2000u);
}

TEST(Searches, LineAtGivesTheLineAndWhereTheNextStarts) {
  TMapFile m = SampleMap();
  uint32_t next = 0;
  EXPECT_EQ(LineAt(m, 0x102, next), 10);
  EXPECT_EQ(next, 0x104u);
  EXPECT_EQ(LineAt(m, 0x1ff, next), 20);
  EXPECT_EQ(next, 0x200u);
  EXPECT_EQ(LineAt(m, 0x250, next), 30);
  EXPECT_EQ(next, 0x251u);
  EXPECT_EQ(LineAt(m, 0x50, next), 0);
  EXPECT_EQ(LineAt(m, 0x1000, next), 0);  // beyond top of code
  EXPECT_EQ(LineAt(m, 0x350, next), 0);   // no segment there
  TMapFile noLines;
  AddSegment(noLines, true, 0, 0x10, "s", true);
  EXPECT_EQ(LineAt(noLines, 4, next), -1);
}

TEST(Searches, LineHookKeepsItsRangeAndLooksUpOutsideIt) {
  TMapFile m = SampleMap();
  uint32_t line = 0, begin = 0, end = 0;
  LineHookInMap(m, 0x101, line, begin, end);
  EXPECT_EQ(line, 10u);
  EXPECT_EQ(begin, 0x101u);
  EXPECT_EQ(end, 0x104u);
  line = 99;  // inside the range nothing is looked up
  LineHookInMap(m, 0x103, line, begin, end);
  EXPECT_EQ(line, 99u);
  LineHookInMap(m, 0x104, line, begin, end);
  EXPECT_EQ(line, 11u);
  LineHookInMap(m, 0x250, line, begin, end);  // last item: a one-byte range
  EXPECT_EQ(line, 30u);
  EXPECT_EQ(end, 0x251u);
  TMapFile noLines;
  AddSegment(noLines, true, 0, 0x10, "s", true);
  LineHookInMap(noLines, 4, line, begin, end);  // -1 (lines exist elsewhere) becomes 0
  EXPECT_EQ(line, 0u);
}

TEST(Searches, ProcNameOnlyAtAFunctionStart) {
  TMapFile m = SampleMap();
  TMfLookup r;
  ASSERT_TRUE(LookupInMap(m, 0x186, r));
  EXPECT_EQ(r.unitName, "alpha.cpp");
  EXPECT_EQ(r.publicName, "Second");
  EXPECT_EQ(r.publicAddress, 0x180u);
  EXPECT_EQ(r.line, 20);
  EXPECT_EQ(ProcNameInMap(m, 0x180), "alpha.cpp.Second");
  EXPECT_EQ(ProcNameInMap(m, 0x181), "");
  m.segments[1].name.clear();
  EXPECT_EQ(ProcNameInMap(m, 0x100), "First");
}

// --- the resource format ------------------------------------------------------------------

TQelContent SampleContent() {
  TQelContent c;
  c.segments = {{0x0, 0x40, "main.cpp", true}, {0x40, 0x100, "util.cpp", true}};
  c.publics = {{"Start", 0x0}, {"Helper", 0x20}, {"Ns::Far", 0x140 - 4}, {"Next", 0x10000}};
  c.lines = {{5, 0x0}, {6, 0x8}, {300, 0x40}, {2, 0x50}};
  c.hasEntryPoint = true;
  c.entryPoint = 0x20;
  return c;
}

TMapFile Build(FakeEnvironment& env, const std::string& image = MakeImage()) {
  TMapFile m;
  BuildMapFile(m, kHandle, kModule, image, env);
  return m;
}

TEST(Resource, Version3ImportsSegmentsPublicsLinesAndEntryPoint) {
  FakeEnvironment env;
  env.hasQel = true;
  env.qel = BuildQelResource(SampleContent(), 3, false, 1, 2);
  TMapFile m = Build(env);
  ASSERT_TRUE(m.isValid);
  EXPECT_EQ(m.baseOfCode, kCode);
  EXPECT_EQ(m.topOfCode, kCode + 0x2000);
  ASSERT_EQ(m.segments.Count(), 2u);
  EXPECT_EQ(m.segments[1].name, "util.cpp");
  EXPECT_EQ(m.segments[1].begin, kCode + 0x40);
  ASSERT_EQ(m.publics.Count(), 4u);
  EXPECT_EQ(m.publics[2].name, "Ns::Far");
  EXPECT_EQ(m.publics[3].address, kCode + 0x10000);
  ASSERT_EQ(m.lines.Count(), 4u);
  EXPECT_EQ(m.lines[2].line, 300u);
  EXPECT_EQ(m.lines[3].line, 2u);
  EXPECT_EQ(m.entryPoint, kCode + 0x20);
  EXPECT_EQ(ProcNameInMap(m, kCode + 0x20), "main.cpp.Helper");
}

TEST(Resource, Version2HasNoIdentificationButStillImports) {
  FakeEnvironment env;
  env.hasQel = true;
  env.qel = BuildQelResource(SampleContent(), 2, false, 0, 0);
  ASSERT_FALSE(env.qel.empty());
  TMapFile m = Build(env);
  ASSERT_TRUE(m.isValid);
  EXPECT_EQ(m.publics.Count(), 4u);
}

TEST(Resource, OtherVersionsAndSignaturesFallThroughToTheSideFiles) {
  const std::string map =
      "\r\n Start         Length     Name                   Class\r\n"
      " 0001:00001000 00000100H .text                   CODE\r\n";
  for (int variant = 0; variant < 3; ++variant) {
    FakeEnvironment env;
    env.hasQel = true;
    env.qel = BuildQelResource(SampleContent(), 3, false, 1, 2);
    if (variant == 0) test::Set32(env.qel, 18, 1);
    if (variant == 1) test::Set32(env.qel, 18, 4);
    if (variant == 2) env.qel[0] = 'q';
    EXPECT_FALSE(Build(env).isValid) << variant;
    env.files["C:\\app\\Mod.map"] = map;
    TMapFile m = Build(env);
    EXPECT_TRUE(m.isValid) << variant;
    EXPECT_EQ(m.publics.Count(), 0u) << variant;
  }
}

TEST(Resource, CorruptedCompressedDataGivesAnInvalidMap) {
  FakeEnvironment env;
  env.hasQel = true;
  env.qel = BuildQelResource(SampleContent(), 3, false, 1, 2);
  env.qel[test::MakeImage().size() % 7 + 40] ^= 0x55;  // inside the deflate data
  EXPECT_FALSE(Build(env).isValid);
}

TEST(Resource, MinimalBuildWithoutItsSideFileGivesPlaceholderNames) {
  FakeEnvironment env;
  env.hasQel = true;
  env.qel = BuildQelResource(SampleContent(), 3, true, 7, 8);
  env.hasSettings = true;
  env.settings = test::SettingsWithMinDebugInfo(MinDebugInfoIdentification(999, 7, 8));
  TMapFile m = Build(env);
  ASSERT_TRUE(m.isValid);
  EXPECT_EQ(m.minDebugInfo, "$000003e7, $00000007, $00000008");
  ASSERT_EQ(m.segments.Count(), 2u);
  EXPECT_EQ(m.segments[0].name, "segment%0");
  EXPECT_EQ(m.segments[1].hasLines, 1);
  EXPECT_EQ(m.publics[1].name, "public%1");
  EXPECT_EQ(ProcNameInMap(m, kCode + 0x20), "segment%0.public%1 (Mod.dll)");
}

TEST(Resource, MinimalBuildTakesTheSideFileOnlyWithItsIdentification) {
  const std::string full = BuildQelResource(SampleContent(), 3, false, 0x1234, 0x5678);
  for (bool rightId : {true, false}) {
    FakeEnvironment env;
    env.hasQel = true;
    env.qel = BuildQelResource(SampleContent(), 3, true, 0x1234, 0x5678);
    env.hasSettings = true;
    env.settings = test::SettingsWithMinDebugInfo(MinDebugInfoIdentification(
        static_cast<uint32_t>(full.size()), 0x1234, rightId ? 0x5678 : 0x5679));
    env.files["C:\\app\\Mod.qel"] = full;
    TMapFile m = Build(env);
    ASSERT_TRUE(m.isValid);
    EXPECT_EQ(m.publics[1].name, rightId ? "Helper" : "public%1");
  }
}

TEST(Resource, SettingsStreamScanFindsOnlyTheTextProperty) {
  EXPECT_EQ(FindMinDebugInfo(test::SettingsWithMinDebugInfo("abc")), "abc");
  EXPECT_EQ(FindMinDebugInfo("TPF0\x0aTQelExcept\x09qelExceps"), "");
  std::string bad = test::SettingsWithMinDebugInfo("abc");
  bad[33] = 5;  // unsupported value type before the property
  EXPECT_EQ(FindMinDebugInfo(bad), "");
}

// --- text map -----------------------------------------------------------------------------

const char* const kTextMap =
    "\r\n"
    " Start         Length     Name                   Class\r\n"
    " 0001:00001000 00001801H .text                   CODE\r\n"
    " 0002:00003000 00000200H .itext                  ICODE\r\n"
    " 0003:00004000 00000400H .data                   DATA\r\n"
    "\r\n"
    "Detailed map of segments\r\n"
    "\r\n"
    " 0001:00000000 00000100 C=CODE     S=.text    G=(none)   M=System   ACBP=A9\r\n"
    " 0001:00000100 00000080 C=CODE     S=.text    G=(none)   M=C:\\src\\Unit1.pas ACBP=A9\r\n"
    " 0002:00000000 00000010 C=ICODE    S=.itext   G=(none)   M=Unit1    ACBP=A9\r\n"
    " 0003:00000000 00000020 C=DATA     S=.data    G=DGROUP   M=Unit1    ACBP=A9\r\n"
    " 0004:00000000 00000020 C=TLS      S=.tls     G=(none)   M=Unit1    ACBP=A9\r\n"
    "\r\n"
    "  Address         Publics by Name\r\n"
    "\r\n"
    " 0001:00000000       System.Ignored\r\n"
    "\r\n"
    "  Address         Publics by Value\r\n"
    "\r\n"
    " 0001:00000000       System.Move\r\n"
    " 0001:00000010       @$xp$System\r\n"
    " 0001:00000100       Unit1.TForm1.Click (x)\r\n"
    " 0001:00000140       Unit1\r\n"
    " 0002:00000000       Unit1.Init\r\n"
    " 0003:00000004       Unit1.Form1\r\n"
    "\r\n"
    "Line numbers for Unit1(C:\\src\\Unit1.pas) segment .text\r\n"
    "\r\n"
    "    28 0001:00000100    29 0001:00000108    30 0001:00000108    31 0001:00000104\r\n"
    "    40 0001:00000140\r\n"
    "\r\n"
    "Program entry point at 0001:00000140\r\n";

TEST(TextMap, SectionsSegmentsPublicsLinesAndEntryPoint) {
  TMapFile m;
  m.baseOfCode = 0x400000;
  m.baseOfData = 0x500000;
  ASSERT_TRUE(ParseTextMap(m, kTextMap));
  ASSERT_EQ(m.segments.Count(), 3u);
  EXPECT_EQ(m.segments[0].name, "Unit1");  // data first
  EXPECT_EQ(m.segments[0].isCode, 0);
  EXPECT_EQ(m.segments[0].begin, 0x500000u);
  EXPECT_EQ(m.segments[1].name, "System");
  EXPECT_EQ(m.segments[2].name, "Unit1");
  EXPECT_EQ(m.segments[2].begin, 0x400100u);
  // .itext follows .text rounded up to 4096 bytes; neighbours of one unit are joined.
  EXPECT_EQ(m.segments[2].length, 0x2010u - 0x100u);
  ASSERT_EQ(m.publics.Count(), 5u);
  EXPECT_EQ(m.publics[0].name, "Move");
  EXPECT_EQ(m.publics[1].name, "TForm1.Click");
  EXPECT_EQ(m.publics[2].name, "initialization");
  EXPECT_EQ(m.publics[3].name, "Init");
  EXPECT_EQ(m.publics[3].address, 0x402000u);
  EXPECT_EQ(m.publics[4].name, "Form1");
  EXPECT_EQ(m.publics[4].isCode, 0);
  ASSERT_EQ(m.lines.Count(), 3u);  // pairs not above the previous address are dropped
  EXPECT_EQ(m.lines[1].line, 29u);
  EXPECT_EQ(m.lines[2].line, 40u);
  EXPECT_EQ(m.entryPoint, 0x400140u);
}

TEST(TextMap, SideFileBesideTheModuleIsUsedWithoutImageHeaders) {
  FakeEnvironment env;
  env.files["C:\\app\\Mod.map"] = kTextMap;
  TMapFile m;
  BuildMapFile(m, 0, kModule, {}, env);
  ASSERT_TRUE(m.isValid);
  EXPECT_EQ(m.publics.Count(), 5u);
}

// --- TD32 ---------------------------------------------------------------------------------

test::Td32Input SampleTd32() {
  test::Td32Input t;
  t.modules = {{"C:\\src\\Main.obj", {{1, 0x0, 0x100}, {2, 0x0, 0x40}, {2, 0x40, 0x40}}},
               {"Lib.obj", {{1, 0x100, 0x80}}}};
  t.sources = {{"C:\\src\\main.cpp", 1, 0x0, 0xff, {{0x0, 10}, {0x10, 12}, {0x30, 15}}}};
  t.symbols = {{0x205, 1, 0x0, "@Main@Run$qv"},
               {0x204, 1, 0x10, "Helper"},
               {0x202, 2, 0x8, "Counter"},
               {0x20, 1, 0x100, "LibEntry"},
               {0x205, 1, 0x400, "@Far@Away$qv"}};
  return t;
}

TEST(Td32, ModulesSourcesAndSymbolsBecomeSegmentsLinesAndPublics) {
  TMapFile m;
  m.sectionBases = {0x401000, 0x402000};
  m.baseOfCode = 0x401000;
  ASSERT_TRUE(ParseTd32(m, test::MakeTd32(SampleTd32())));
  // Main.obj data (first data segment only); code of Main.obj (main.cpp starts at the same
  // address and is dropped), Lib.obj, and Far grown from a symbol outside every module.
  ASSERT_EQ(m.segments.Count(), 4u);
  EXPECT_EQ(m.segments[0].name, "Main.obj");
  EXPECT_EQ(m.segments[0].isCode, 0);
  EXPECT_EQ(m.segments[0].length, 0x40u);
  EXPECT_EQ(SegmentAt(m, true, 0x401050)->name, "Main.obj");
  EXPECT_EQ(SegmentAt(m, true, 0x401100)->name, "Lib.obj");
  EXPECT_EQ(SegmentAt(m, true, 0x401400)->name, "Far");
  ASSERT_EQ(m.publics.Count(), 5u);
  EXPECT_EQ(m.publics[0].name, "Main.Run");
  EXPECT_EQ(m.publics[1].name, "Helper");
  EXPECT_EQ(m.publics[2].name, "LibEntry");
  EXPECT_EQ(m.publics[3].name, "Away");
  EXPECT_EQ(m.publics[4].name, "Counter");
  EXPECT_EQ(m.publics[4].address, 0x402008u);
  ASSERT_EQ(m.lines.Count(), 3u);
  EXPECT_EQ(m.lines[2].line, 15u);
  EXPECT_EQ(m.lines[2].address, 0x401030u);
}

TEST(Td32, AlignedSymbolsAreReadWithoutGlobals) {
  test::Td32Input t = SampleTd32();
  t.alignSym = true;
  TMapFile m;
  ASSERT_TRUE(ParseTd32(m, test::MakeTd32(t)));
  EXPECT_EQ(m.publics.Count(), 5u);
}

TEST(Td32, TdsFileBesideTheModuleUnlessOlderThanItsMap) {
  FakeEnvironment env;
  env.files["C:\\app\\Mod.tds"] = test::MakeTd32(SampleTd32());
  env.days["C:\\app\\Mod.tds"] = 100;
  EXPECT_EQ(Build(env).publics.Count(), 5u);
  env.days["C:\\app\\Mod.map"] = 101;
  EXPECT_FALSE(Build(env).isValid);
}

TEST(Td32, InImageThroughTheDebugDirectory) {
  std::string image = MakeImage({{".text", 0x1000, 0x2000, 0x60000020},
                                 {".data", 0x3000, 0x1000, 0xC0000040},
                                 {".debug", 0x4000, 0x2000, 0x42000040}},
                                0x4000, 28);
  std::string td32 = test::MakeTd32(SampleTd32());
  test::Set32(image, 0x4000 + 16, static_cast<uint32_t>(td32.size()));
  test::Set32(image, 0x4000 + 20, 0x4100);
  image.replace(0x4100, td32.size(), td32);
  FakeEnvironment env;
  TMapFile m = Build(env, image);
  ASSERT_TRUE(m.isValid);
  EXPECT_EQ(m.publics[0].address, kCode);
}

// --- JDBG -------------------------------------------------------------------------------

test::JdbgInput SampleJdbg() {
  test::JdbgInput j;
  j.units = {{0x0, "C:\\src\\System"}, {0x100, "Unit1"}, {0x180, "Unit2"}};
  j.lines = {{0x100, 28}, {0x108, 29}, {0x140, 40}, {0x1a0, 7}};
  j.symbols = {{0x0, "System", "Move"},
               {0x100, "Unit1", "TForm1.Click"},
               {0x140, "Unit1", ""},
               {0x180, "Unit2", "Run_2"}};
  return j;
}

TEST(Jdbg, UnitsLinesAndSymbolsBecomeSegmentsLinesAndPublics) {
  TMapFile m;
  m.baseOfCode = 0x401000;
  m.topOfCode = 0x401200;
  ASSERT_TRUE(ParseJdbg(m, test::MakeJdbg(SampleJdbg())));
  ASSERT_EQ(m.segments.Count(), 3u);
  EXPECT_EQ(m.segments[0].name, "System");
  EXPECT_EQ(m.segments[0].length, 0x100u);
  EXPECT_EQ(m.segments[1].name, "Unit1");
  EXPECT_EQ(m.segments[2].name, "Unit2");
  EXPECT_EQ(m.segments[2].length, 0x80u);  // the last unit reaches the top of code
  ASSERT_EQ(m.publics.Count(), 4u);
  EXPECT_EQ(m.publics[0].name, "Move");
  EXPECT_EQ(m.publics[1].name, "TForm1.Click");
  EXPECT_EQ(m.publics[2].name, "initialization");
  EXPECT_EQ(m.publics[3].name, "Run_2");
  EXPECT_EQ(m.publics[3].address, 0x401180u);
  ASSERT_EQ(m.lines.Count(), 4u);
  EXPECT_EQ(m.lines[1].line, 29u);
  EXPECT_EQ(m.lines[3].address, 0x4011a0u);
}

TEST(Jdbg, PlainWordsAreDecipheredAndBadChecksumsOrSizesRejected) {
  test::JdbgInput j = SampleJdbg();
  j.symbols[3].second = "operator+ (x)";
  TMapFile m;
  ASSERT_TRUE(ParseJdbg(m, test::MakeJdbg(j)));
  EXPECT_EQ(m.publics[3].name, "operator+ (x)");

  std::string data = test::MakeJdbg(SampleJdbg());
  std::string bad = data;
  bad[40] ^= 1;
  TMapFile m2;
  EXPECT_FALSE(ParseJdbg(m2, bad));
  j.checksum = false;
  bad = test::MakeJdbg(j);
  bad[29] = 0x55;  // checksum not claimed valid: not checked
  TMapFile m3;
  EXPECT_TRUE(ParseJdbg(m3, bad));
  TMapFile m4;
  EXPECT_FALSE(ParseJdbg(m4, data + "x"));  // not a multiple of 4
}

TEST(Jdbg, SideFileIsTheLastSourceTried) {
  FakeEnvironment env;
  env.files["C:\\app\\Mod.jdbg"] = test::MakeJdbg(SampleJdbg());
  TMapFile m = Build(env);
  ASSERT_TRUE(m.isValid);
  EXPECT_EQ(m.publics[0].address, kCode);
  env.files["C:\\app\\Mod.qel"] = BuildQelResource(SampleContent(), 3, false, 1, 2);
  EXPECT_EQ(Build(env).publics[0].name, "Start");
}

// --- robustness ---------------------------------------------------------------------------

TEST(Robustness, TruncatedSourcesNeverFaultAndTruncatedResourcesAreInvalid) {
  const std::string qel = BuildQelResource(SampleContent(), 3, false, 1, 2);
  const std::string td32 = test::MakeTd32(SampleTd32());
  const std::string text = kTextMap;
  for (size_t n = 0; n <= qel.size(); ++n) {
    FakeEnvironment env;
    env.hasQel = true;
    env.qel = qel.substr(0, n);
    EXPECT_EQ(Build(env).isValid, n == qel.size()) << n;
  }
  for (size_t n = 0; n <= td32.size(); ++n) {
    TMapFile m;
    ParseTd32(m, td32.substr(0, n));
  }
  for (size_t n = 0; n <= text.size(); n += 3) {
    TMapFile m;
    ParseTextMap(m, text.substr(0, n));
  }
}

TEST(Robustness, FlippedBytesNeverFault) {
  const std::string td32 = test::MakeTd32(SampleTd32());
  const std::string image = MakeImage();
  for (size_t i = 0; i < td32.size(); ++i) {
    std::string bad = td32;
    bad[i] = static_cast<char>(~bad[i]);
    TMapFile m;
    ParseTd32(m, bad);
  }
  for (size_t i = 0; i < 0x200; ++i) {
    std::string bad = image;
    bad[i] = static_cast<char>(bad[i] ^ 0xA5);
    ReadImageFacts(bad);
  }
}

// A bounded random-mutation run over every parser; deeper runs use the libFuzzer target.
TEST(Robustness, RandomMutationsOfEverySourceNeverFault) {
  const std::string seeds[] = {
      std::string(1, '\0') + BuildQelResource(SampleContent(), 3, false, 1, 2),
      std::string(1, '\0') + BuildQelResource(SampleContent(), 3, true, 1, 2),
      std::string(1, '\1') + test::MakeTd32(SampleTd32()),
      std::string(1, '\2') + kTextMap,
      std::string(1, '\3') + PackBlock(EncodeDecodedStream(SampleContent(), false)),
      std::string(1, '\4') + test::SettingsWithMinDebugInfo("x"),
      std::string(1, '\5') + MakeImage(),
      std::string(1, '\6') + test::MakeJdbg(SampleJdbg()),
  };
  std::mt19937 random(20261208);
  for (int round = 0; round < 3000; ++round) {
    for (const std::string& seed : seeds) {
      std::string data = seed;
      int edits = 1 + static_cast<int>(random() % 8);
      for (int e = 0; e < edits && data.size() > 1; ++e) {
        size_t at = 1 + random() % (data.size() - 1);
        switch (random() % 4) {
          case 0: data[at] = static_cast<char>(random()); break;
          case 1: data.erase(at, 1 + random() % 16); break;
          case 2: data.insert(at, std::string(1 + random() % 4, static_cast<char>(random()))); break;
          case 3: data.resize(at); break;
        }
      }
      test::RunFuzzInput(data);
    }
  }
}

// --- cache --------------------------------------------------------------------------------

TEST(Cache, FindsByNameIgnoringCaseAndDropsStaleEntries) {
  TMapCache cache;
  auto a = std::make_shared<TMapFile>();
  a->moduleFileName = "C:\\A.dll";
  auto b = std::make_shared<TMapFile>();
  b->moduleFileName = "C:\\B.dll";
  cache.Add(1, a);
  cache.Add(2, b);
  EXPECT_EQ(cache.Find("c:\\a.DLL", 1), a);
  EXPECT_EQ(cache.Find("C:\\A.dll", 5), nullptr);  // replaced on disk
  EXPECT_EQ(cache.Count(), 1u);
  EXPECT_EQ(cache.Find("C:\\A.dll", 1), nullptr);
  EXPECT_EQ(cache.Find("C:\\B.dll", 2), b);
}

}  // namespace
}  // namespace qx
