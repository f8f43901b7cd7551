// The stack walker over hand-made modules and stacks: a module image with a PE header and
// small functions, its map, and stacks built with and without a frame-pointer chain.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <stdexcept>

#include "callstack_crc.h"
#include "mapped_pe_file.h"
#include "stack_trace.h"

namespace {

constexpr uint32_t kBase = 0x400000;
constexpr uint32_t kStackBase = 0x200000;
constexpr uint32_t kStackTop = 0x201000;

// Functions (push ebp / mov ebp, esp / ...):
//   Main  401000: call B (stale, next 401008) / call A (next 40100D) / pop ebp / ret
//   A     401100: call B (next 401108) / pop ebp / ret
//   B     401200: mov [0], eax (the fault at 401203) / pop ebp / ret
//   R1    401300: test eax, eax / jnz +5 / mov [0], eax (fault at 401307) / call R2 (next 401311)
//   R2    401400: call R1 (next 401408)
//   Main2 401500: call R1 (next 401508)
constexpr uint32_t kMain = 0x401000, kA = 0x401100, kB = 0x401200;
constexpr uint32_t kR1 = 0x401300, kR2 = 0x401400, kMain2 = 0x401500;
constexpr uint32_t kRetMainStale = 0x401008, kRetMainA = 0x40100D, kRetAB = 0x401108;
constexpr uint32_t kFaultB = 0x401203;
constexpr uint32_t kRetR1 = 0x401311, kRetR2 = 0x401408, kRetMain2 = 0x401508, kFaultR1 = 0x401307;

void Put32(std::vector<uint8_t>& bytes, uint32_t offset, uint32_t value) {
  std::memcpy(bytes.data() + offset, &value, 4);
}

void Call(std::vector<uint8_t>& image, uint32_t at, uint32_t target) {
  image[at - kBase] = 0xE8;
  Put32(image, at - kBase + 1, target - (at + 5));
}

void Code(std::vector<uint8_t>& image, uint32_t at, std::initializer_list<uint8_t> bytes) {
  std::copy(bytes.begin(), bytes.end(), image.begin() + (at - kBase));
}

std::vector<uint8_t> MakeImage() {
  std::vector<uint8_t> image(0x2000, 0xCC);
  std::fill(image.begin(), image.begin() + 0x400, 0);
  image[0] = 'M';
  image[1] = 'Z';
  Put32(image, 0x3C, 0x40);
  std::memcpy(image.data() + 0x40, "PE\0\0", 4);
  image[0x44] = 0x4C;                         // i386
  image[0x46] = 1;                            // one section
  image[0x54] = 224;                          // size of the optional header
  const uint32_t opt = 0x58;
  image[opt] = 0x0B;
  image[opt + 1] = 0x01;
  Put32(image, opt + 4, 0x1000);   // size of code
  Put32(image, opt + 16, 0);       // no entry point
  Put32(image, opt + 20, 0x1000);  // base of code
  Put32(image, opt + 24, 0x2000);  // base of data
  const uint32_t section = opt + 224;
  std::memcpy(image.data() + section, ".text", 5);
  Put32(image, section + 8, 0x1000);
  Put32(image, section + 12, 0x1000);
  Put32(image, section + 16, 0x1000);
  Put32(image, section + 36, 0x60000020);

  Code(image, kMain, {0x55, 0x89, 0xE5});
  Call(image, kMain + 3, kB);
  Call(image, kMain + 8, kA);
  Code(image, kMain + 0xD, {0x5D, 0xC3});
  Code(image, kA, {0x55, 0x89, 0xE5});
  Call(image, kA + 3, kB);
  Code(image, kA + 8, {0x5D, 0xC3});
  Code(image, kB, {0x55, 0x89, 0xE5, 0xA3, 0, 0, 0, 0, 0x5D, 0xC3});
  Code(image, kR1, {0x55, 0x89, 0xE5, 0x85, 0xC0, 0x75, 0x05, 0xA3, 0, 0, 0, 0});
  Call(image, kR1 + 0xC, kR2);
  Code(image, kR1 + 0x11, {0x5D, 0xC3});
  Code(image, kR2, {0x55, 0x89, 0xE5});
  Call(image, kR2 + 3, kR1);
  Code(image, kR2 + 8, {0x5D, 0xC3});
  Code(image, kMain2, {0x55, 0x89, 0xE5});
  Call(image, kMain2 + 3, kR1);
  Code(image, kMain2 + 8, {0x5D, 0xC3});
  return image;
}

std::shared_ptr<qx::TMapFile> MakeMap(bool withLines, int lineAtA = 20) {
  auto map = std::make_shared<qx::TMapFile>();
  map->isValid = true;
  map->moduleFileName = "C:\\app\\test.exe";
  map->moduleHandle = kBase;
  qx::TMfSegment segment;
  segment.begin = kMain;
  segment.length = 0x600;
  segment.name = "Unit1";
  map->segments.Add(segment);
  const std::pair<const char*, uint32_t> publics[] = {{"Main", kMain}, {"A", kA},   {"B", kB},
                                                      {"R1", kR1},     {"R2", kR2}, {"Main2", kMain2}};
  for (const auto& [name, address] : publics) {
    qx::TMfPublic pub;
    pub.name = name;
    pub.address = address;
    map->publics.Add(pub);
  }
  const std::pair<uint32_t, uint32_t> lines[] = {
      {10, kMain},     {11, kMain + 3},  {12, kMain + 8},  {13, kMain + 0xD}, {lineAtA, kA},
      {21, kA + 3},    {22, kA + 8},     {30, kB},         {31, kB + 3},      {32, kB + 8},
      {40, kR1},       {41, kR1 + 3},    {42, kR1 + 7},    {43, kR1 + 0xC},   {44, kR1 + 0x11},
      {50, kR2},       {51, kR2 + 3},    {52, kR2 + 8},    {60, kMain2},      {61, kMain2 + 3},
      {62, kMain2 + 8}};
  for (const auto& [line, address] : lines) {
    if (!withLines && address != kMain && address != kA && address != kB && address != kR1 &&
        address != kR2 && address != kMain2)
      continue;
    map->lines.Add({line, address});
  }
  return map;
}

class TestMemory : public qx::StackMemory {
 public:
  qxtest::ImageMemory image;
  std::map<uint32_t, std::shared_ptr<const qx::TMapFile>> maps;
  int failMaps = 0;  // so many map requests fail

  bool Read(uint32_t address, void* destination, uint32_t count) override {
    return image.Read(address, destination, count);
  }
  bool ModuleAt(uint32_t address, qx::TModuleInfo& module) override {
    return image.ModuleAt(address, module);
  }
  bool QueryRegion(uint32_t address, qx::TMemoryRegion& region) override {
    return image.QueryRegion(address, region);
  }
  std::string ErrorText(uint32_t code) override { return image.ErrorText(code); }
  std::shared_ptr<const qx::TMapFile> MapOfModule(const qx::TModuleInfo& module) override {
    if (failMaps > 0 && failMaps--) throw std::runtime_error("map");
    auto found = maps.find(module.base);
    return found == maps.end() ? nullptr : found->second;
  }
};

// A stack of frames, oldest first: each pushes its return address, then the caller's frame
// pointer (or junk without frame pointers), then one local slot.
struct BuiltStack {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kStackTop - kStackBase, 0);
  uint32_t bottom = kStackTop;
  uint32_t framePointer = 0;
  void Push(uint32_t value) {
    bottom -= 4;
    Put32(bytes, bottom - kStackBase, value);
  }
};

BuiltStack MakeStack(const std::vector<uint32_t>& returns, bool framePointers,
                     const std::vector<uint32_t>& staleLocals = {}) {
  BuiltStack stack;
  stack.Push(0);
  uint32_t ebp = stack.bottom;
  for (size_t i = 0; i < returns.size(); ++i) {
    stack.Push(returns[i]);
    stack.Push(framePointers ? ebp : 0x22222222);
    ebp = stack.bottom;
    stack.Push(i < staleLocals.size() ? staleLocals[i] : 0x11111111);
  }
  stack.framePointer = framePointers ? ebp : 0;
  return stack;
}

struct Fixture {
  TestMemory memory;
  qx::StackWalker walker{memory};
  explicit Fixture(const BuiltStack& stack, bool withMap = true, bool withLines = true) {
    memory.image.AddBlock(kBase, MakeImage(), "C:\\app\\test.exe");
    memory.image.AddBlock(kStackBase, stack.bytes);
    if (withMap) memory.maps[kBase] = MakeMap(withLines);
  }
  qx::TraceStackOutput Trace(const BuiltStack& stack, uint32_t current,
                             qx::TraceStackInput input = {}) {
    input.framePointer = stack.framePointer;
    input.stackTop = kStackTop;
    input.stackBottom = stack.bottom;
    input.isException = true;
    input.isExternal = true;
    input.currentAddress = current;
    qx::TraceStackOutput out;
    walker.TraceStack(input, out);
    return out;
  }
};

std::vector<uint32_t> Addresses(const qx::TStackTrace& trace) {
  std::vector<uint32_t> result;
  for (const auto& item : trace) result.push_back(item.Addr);
  return result;
}

TEST(StackTracePreFilter, RecognisesTheEndsOfCalls) {
  uint8_t bytes[8] = {};
  bytes[3] = 0xE8;  // call rel32 five bytes back
  EXPECT_TRUE(qx::CouldBeReturnAddress(0x401000, bytes));
  EXPECT_FALSE(qx::CouldBeReturnAddress(7, bytes));
  uint8_t indirect[8] = {0, 0, 0xFF, 0x15, 0x00, 0x20, 0x40, 0x00};  // call [402000h]
  EXPECT_TRUE(qx::CouldBeReturnAddress(0x401000, indirect));
  uint8_t jump[8] = {0, 0, 0xFF, 0x25, 0x00, 0x20, 0x40, 0x00};  // jmp [402000h]
  EXPECT_FALSE(qx::CouldBeReturnAddress(0x401000, jump));
  uint8_t callReg[8] = {0, 0, 0, 0, 0, 0, 0xFF, 0xD0};  // call eax
  EXPECT_TRUE(qx::CouldBeReturnAddress(0x401000, callReg));
  uint8_t far[8] = {0, 0x9A, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(qx::CouldBeReturnAddress(0x401000, far));
}

TEST(StackTraceFrameChain, AscendsAndStopsWhenAFrameGoesDown) {
  qxtest::ImageMemory memory;
  std::vector<uint8_t> stack(0x1000, 0);
  Put32(stack, 0x100, kStackBase + 0x200);  // frame at +100 -> +200
  Put32(stack, 0x200, kStackBase + 0x180);  // +200 -> +180 goes down: the chain ends
  memory.AddBlock(kStackBase, stack);
  auto slots = qx::FramePointerChain(memory, nullptr, kStackBase + 0x100, kStackTop, kStackBase);
  EXPECT_EQ(slots, (std::vector<uint32_t>{kStackBase + 0x104, kStackBase + 0x204}));
}

TEST(StackTrace, WithFramePointersListsEveryCallerWithLines) {
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, true);
  Fixture f(stack);
  auto out = f.Trace(stack, kFaultB);
  EXPECT_EQ(out.text,
            "00401203 +3 test.exe Unit1 31 +1 B\r\n"
            "00401103 +3 test.exe Unit1 21 +1 A\r\n"
            "00401008 +8 test.exe Unit1 12 +2 Main");
  ASSERT_EQ(out.trace.size(), 3u);
  EXPECT_EQ(out.trace[2].Line, 12);
  EXPECT_EQ(out.trace[2].RelLine, 2);
  EXPECT_EQ(out.trace[2].RelAddr, 8u);
  EXPECT_TRUE(out.hasLines);
  EXPECT_EQ(out.firstFunctionStart, kB);
  EXPECT_EQ(out.firstFunctionAddr, kFaultB);
  EXPECT_EQ(out.topCodeAddress, kFaultB);
  qx::CrcStackItem first{kFaultB, kB, "test.exe", "Unit1", "B", true};
  EXPECT_EQ(out.crcLocation, qx::CallstackItemValue(first));
}

TEST(StackTrace, WithoutFramePointersTheBestChainWinsOverStaleValues) {
  BuiltStack withFp = MakeStack({kRetMainA, kRetAB}, true);
  // A stale return address from Main's earlier call of B lies in A's frame.
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, false, {kRetMainStale});
  Fixture f(stack);
  auto out = f.Trace(stack, kFaultB);
  EXPECT_EQ(Addresses(out.trace), (std::vector<uint32_t>{kFaultB, 0x401103, 0x401008}));
  Fixture g(withFp);
  auto reference = g.Trace(withFp, kFaultB);
  EXPECT_EQ(out.text, reference.text);
  EXPECT_EQ(out.crcStack, reference.crcStack);
}

TEST(StackTrace, RecursionKeepsOnePair) {
  BuiltStack stack = MakeStack({kRetMain2, kRetR1, kRetR2, kRetR1, kRetR2}, true);
  Fixture f(stack);
  auto out = f.Trace(stack, kFaultR1);
  EXPECT_EQ(Addresses(out.trace),
            (std::vector<uint32_t>{kFaultR1, kR2 + 3, kR1 + 0xC, kMain2 + 3}));
}

TEST(StackTrace, PreparedStackIsAnalysedAfterTheStackChanged) {
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, true, {kRetMainStale});
  Fixture f(stack);
  uint32_t count = 0;
  qx::TDAPreStackItem prepared =
      f.walker.PrepareStack(stack.framePointer, kStackTop, stack.bottom, true, kFaultB, count);
  ASSERT_EQ(count, 3u);
  EXPECT_EQ(prepared[1].value, kRetMainA);
  EXPECT_EQ(prepared[1].flag, 1);
  EXPECT_EQ(prepared[2].value, kRetMainStale);
  EXPECT_EQ(prepared[2].flag, 0);
  prepared[0].value = count;
  // The thread ran on: its stack now holds nothing of the fault.
  Fixture later(MakeStack({}, true));
  qx::TraceStackInput input;
  input.preparedStack = &prepared;
  auto out = later.Trace(stack, kFaultB, input);
  EXPECT_EQ(Addresses(out.trace), (std::vector<uint32_t>{kFaultB, 0x401103, 0x401008}));
}

TEST(StackTraceText, HideUglyItemsDropsItemsWithoutLinesButTheTop) {
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, true);
  Fixture f(stack, true, false);
  qx::TraceStackInput input;
  input.hideUglyItems = true;
  auto out = f.Trace(stack, kFaultB, input);
  EXPECT_EQ(out.text, "00401203 +3 test.exe Unit1 30 +0 B");
  input.hideUglyItems = false;
  out = f.Trace(stack, kFaultB, input);
  EXPECT_EQ(out.trace.size(), 3u);
}

// A call whose line lies before the line its function starts with (code of another routine
// merged into it) shows its line without a relative one: never "+-".
TEST(StackTraceText, ALineBeforeTheFunctionsFirstLineGetsNoRelativeLine) {
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, true);
  Fixture f(stack);
  f.memory.maps[kBase] = MakeMap(true, 25);  // A begins at line 25, its call of B is line 21
  auto out = f.Trace(stack, kFaultB);
  EXPECT_EQ(out.text.find("+-"), std::string::npos) << out.text;
  ASSERT_EQ(out.trace.size(), 3u);
  EXPECT_EQ(out.trace[1].FunctionName, "A");
  EXPECT_EQ(out.trace[1].Line, 0);
  EXPECT_EQ(out.trace[1].RelLine, 21);
  EXPECT_EQ(out.trace[2].RelLine, 2);  // the others keep theirs
  EXPECT_EQ(out.text,
            "00401203 +3 test.exe Unit1 31 +1 B\r\n"
            "00401103 +3 test.exe Unit1    21 A\r\n"
            "00401008 +8 test.exe Unit1 12 +2 Main");
  EXPECT_EQ(qx::StackAddressText(f.memory, 0x401103, true, true),
            "00401103 +3 test.exe Unit1 21 +0 A");
}

TEST(StackTraceText, NoRelativeAddressColumnWithoutFunctionStarts) {
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, true);
  Fixture f(stack, false);
  qx::TraceStackInput input;
  input.creatorAddress = kRetMainA;
  auto out = f.Trace(stack, kFaultB, input);
  // Without a map or exports every frame is named by its module and offset, and none has
  // a function start: no relative-address column.
  EXPECT_EQ(out.text,
            "00401203 test.exe  test.exe+1203\r\n"
            "00401103 test.exe  test.exe+1103\r\n"
            "0040100d test.exe  test.exe+100d\r\n"
            "0040100d test.exe  test.exe+100d");
}

TEST(StackTraceText, ColumnsWithoutRelativeLines) {
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, true);
  Fixture f(stack);
  qx::TraceStackInput input;
  input.showRelAddrs = false;
  input.showRelLines = false;
  auto out = f.Trace(stack, kFaultB, input);
  EXPECT_EQ(out.text,
            "00401203 test.exe Unit1 31 B\r\n"
            "00401103 test.exe Unit1 21 A\r\n"
            "00401008 test.exe Unit1 12 Main");
}

TEST(StackTraceFailures, AbortDuringTheDeepChecksLeavesAnEmptyStack) {
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, true);
  Fixture f(stack);
  volatile bool abort = false;
  qx::TraceStackInput input;
  input.abort = &abort;
  std::vector<int> positions;
  input.progress = [&](int position) {
    positions.push_back(position);
    if (position > 25 && position < 650) abort = true;
  };
  auto out = f.Trace(stack, kFaultB, input);
  EXPECT_TRUE(out.aborted);
  EXPECT_EQ(out.text, "");
  EXPECT_TRUE(out.trace.empty());
  abort = false;
  positions.clear();
  input.progress = [&](int position) { positions.push_back(position); };
  out = f.Trace(stack, kFaultB, input);
  ASSERT_FALSE(positions.empty());
  EXPECT_EQ(positions.front(), 0);
  EXPECT_EQ(positions.back(), 1000);
  EXPECT_TRUE(std::is_sorted(positions.begin(), positions.end()));
}

TEST(StackTraceFailures, AFailingPhaseBecomesTheInternalErrorText) {
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, true);
  Fixture f(stack);
  f.memory.failMaps = 1;
  auto out = f.Trace(stack, kFaultB);
  EXPECT_EQ(out.text,
            ">> internal error in CollectPossibleStackItems\r\n"
            ">> original exception location: \r\n"
            "00401203 +3 test.exe Unit1 31 +1 B");
}

TEST(StackTraceFailures, AFailingPhaseNamesTheHandledExceptionsLocation) {
  BuiltStack stack = MakeStack({kRetMainA, kRetAB}, true);
  Fixture f(stack);
  f.memory.failMaps = 1;
  qx::TraceStackInput input;
  input.handledExceptionAddress = kFaultB;
  auto out = f.Trace(stack, kFaultB, input);
  EXPECT_EQ(out.text,
            ">> internal error in CollectPossibleStackItems:\r\n"
            "00401203 +3 test.exe Unit1 31 +1 B\r\n"
            ">> original exception location: \r\n"
            "00401203 +3 test.exe Unit1 31 +1 B");
  // Outside an exception only the handled one is named.
  f.memory.failMaps = 1;
  input.isException = false;
  qx::TraceStackOutput plain;
  input.framePointer = stack.framePointer;
  input.stackTop = kStackTop;
  input.stackBottom = stack.bottom;
  f.walker.TraceStack(input, plain);
  EXPECT_EQ(plain.text,
            ">> internal error in CollectPossibleStackItems:\r\n"
            "00401203 +3 test.exe Unit1 31 +1 B");
}

TEST(StackTraceFailures, UnreadableStackGivesAnEmptyResult) {
  BuiltStack stack = MakeStack({kRetMainA}, true);
  Fixture f(stack);
  qx::TraceStackInput input;
  input.stackTop = 0x30001000;
  input.stackBottom = 0x30000000;
  qx::TraceStackOutput out;
  f.walker.TraceStack(input, out);
  EXPECT_EQ(out.text, "");
  uint32_t count = 7;
  EXPECT_TRUE(f.walker.PrepareStack(0, 0x30001000, 0x30000000, false, 0, count).empty());
  EXPECT_EQ(count, 0u);
}

TEST(StackAddressTextTest, DescribesOneAddress) {
  BuiltStack stack = MakeStack({}, true);
  Fixture f(stack);
  EXPECT_EQ(qx::StackAddressText(f.memory, kFaultB, true, true),
            "00401203 +3 test.exe Unit1 31 +1 B");
  EXPECT_EQ(qx::StackAddressText(f.memory, kFaultB, false, false),
            "00401203 test.exe Unit1 31 B");
  EXPECT_EQ(qx::StackAddressText(f.memory, 0x500000, true, true), "00500000 +0 ???");
  EXPECT_EQ(qx::StackAddressText(f.memory, 0x500000, false, true), "00500000 ???");
  EXPECT_EQ(qx::InternalErrorText(f.memory, "GetStackDump", true, true, 0),
            ">> internal error in GetStackDump");
  EXPECT_EQ(qx::InternalErrorText(f.memory, "GetStackDump", true, true, kFaultB),
            ">> internal error in GetStackDump:\r\n00401203 +3 test.exe Unit1 31 +1 B");
}

}  // namespace
