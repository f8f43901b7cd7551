// The decoder on the own process: guarded reads, the readable-memory snapshot, module
// names and listings of real code.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>

#include "function_win.h"

namespace {

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

struct Reserved {
  void* reserved = VirtualAlloc(nullptr, 0x10000, MEM_RESERVE, PAGE_NOACCESS);
  void* guarded = VirtualAlloc(nullptr, 0x1000, MEM_COMMIT, PAGE_NOACCESS);
  ~Reserved() {
    VirtualFree(reserved, 0, MEM_RELEASE);
    VirtualFree(guarded, 0, MEM_RELEASE);
  }
};

TEST(ProcessDecoder, SafeReadAndReadableMap) {
  Reserved r;
  static const char kText[] = "readable";
  char copy[9] = {};
  EXPECT_TRUE(qx::SafeRead(kText, copy, 9));
  EXPECT_STREQ(copy, "readable");
  EXPECT_FALSE(qx::SafeRead(nullptr, copy, 1));
  EXPECT_FALSE(qx::SafeRead(r.reserved, copy, 1));
  EXPECT_FALSE(qx::SafeRead(r.guarded, copy, 1));
  EXPECT_FALSE(qx::SafeRead(static_cast<const char*>(r.reserved) - 4, copy, 8));

  // The copy behind it catches its own faults: memory that went away after the region
  // query gives a failed read, not a fault, and what came before the fault is copied.
  char edge[8] = {};
  EXPECT_EQ(qx::QxGuardedCopy(copy, r.reserved, 1), 0u);
  EXPECT_EQ(qx::QxGuardedCopy(copy, r.guarded, 4), 0u);
  char* page = static_cast<char*>(VirtualAlloc(nullptr, 0x2000, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(page, nullptr);
  std::memcpy(page + 0x1000 - 4, "abcd", 4);
  DWORD old;
  VirtualProtect(page + 0x1000, 0x1000, PAGE_NOACCESS, &old);
  EXPECT_EQ(qx::QxGuardedCopy(edge, page + 0x1000 - 4, 8), 0u);
  EXPECT_EQ(std::string(edge, 4), "abcd");
  EXPECT_EQ(qx::QxGuardedCopy(edge, page + 0x1000 - 4, 4), 1u);
  VirtualFree(page, 0, MEM_RELEASE);
  EXPECT_EQ(qx::QxGuardedCopy(copy, kText, 9), 1u);
  EXPECT_STREQ(copy, "readable");

  qx::TDATryRead map = qx::BuildReadableMap();
  ASSERT_GT(map.ranges.size(), 3u);
  for (size_t i = 1; i < map.ranges.size(); ++i) {
    EXPECT_EQ(map.ranges[i].begin, map.ranges[i - 1].end);
    EXPECT_NE(map.ranges[i].readable, map.ranges[i - 1].readable);
  }
  int local = 0;
  EXPECT_TRUE(qx::IsReadable(map, AddressOf(&local)));
  EXPECT_TRUE(qx::IsReadable(map, AddressOf(kText)));
  EXPECT_FALSE(qx::IsReadable(map, AddressOf(r.reserved)));
  EXPECT_FALSE(qx::IsReadable(map, AddressOf(r.guarded)));
  EXPECT_FALSE(qx::IsReadable(map, 0));
  EXPECT_TRUE(qx::SafeRead(kText, copy, 4, &map));
  EXPECT_FALSE(qx::SafeRead(r.guarded, copy, 4, &map));

  qx::TMemoryRegion region;
  ASSERT_TRUE(qx::ProcessMemory().QueryRegion(AddressOf(r.reserved), region));
  EXPECT_FALSE(region.committed);
  EXPECT_FALSE(qx::ProcessMemory().Read(AddressOf(r.reserved), copy, 1));
}

// A module decoded a moment ago may be gone: decoding at its old address reads nothing
// and says so, on the same thread that read it while it was there.
TEST(ProcessDecoder, CodeOfAnUnloadedModuleDecodesAsUnreadable) {
  HMODULE probe = LoadLibraryA("decoder_unload_probe.dll");
  ASSERT_NE(probe, nullptr) << GetLastError();
  const void* code = reinterpret_cast<const void*>(GetProcAddress(probe, "ProbeSum"));
  ASSERT_NE(code, nullptr);
  for (int round = 0; round < 2; ++round) {
    qx::TInstrInfo first = qx::DecodeInstruction(code);
    ASSERT_TRUE(first.isValid);
    EXPECT_TRUE(qx::DecodeInstruction(reinterpret_cast<const void*>(first.next)).isValid);
  }
  char bytes[4];
  ASSERT_TRUE(qx::ProcessMemory().Read(AddressOf(code), bytes, sizeof bytes));
  ASSERT_TRUE(FreeLibrary(probe));
  ASSERT_EQ(GetModuleHandleA("decoder_unload_probe.dll"), nullptr);
  MEMORY_BASIC_INFORMATION info;
  ASSERT_EQ(VirtualQuery(code, &info, sizeof info), sizeof info);
  // Gone, or (under Wine) kept reserved without pages.
  ASSERT_NE(info.State, static_cast<DWORD>(MEM_COMMIT)) << "the module's pages are still mapped";
  EXPECT_FALSE(qx::ProcessMemory().Read(AddressOf(code), bytes, sizeof bytes));
  EXPECT_FALSE(qx::DecodeInstruction(code).isValid);
  qx::TModuleInfo module;
  EXPECT_FALSE(qx::ProcessMemory().ModuleAt(AddressOf(code), module));
  EXPECT_FALSE(qx::ParseFunction(code).isValid);
}

TEST(ProcessDecoder, ModulesAndExports) {
  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  ASSERT_NE(kernel32, nullptr);
  const void* getLastError = reinterpret_cast<const void*>(GetProcAddress(kernel32, "GetLastError"));
  qx::TModuleInfo module;
  ASSERT_TRUE(qx::ProcessMemory().ModuleAt(AddressOf(getLastError), module));
  EXPECT_EQ(module.base, AddressOf(kernel32));
  EXPECT_FALSE(module.isSelf);
  EXPECT_NE(module.fileName.find("kernel32.dll"), std::string::npos);
  EXPECT_EQ(qx::ExportNameAt(kernel32, getLastError, true), "GetLastError");
  EXPECT_EQ(qx::ExportNameAt(kernel32, static_cast<const char*>(getLastError) + 1, true), "");
  ASSERT_TRUE(qx::ProcessMemory().ModuleAt(AddressOf(reinterpret_cast<const void*>(&AddressOf)), module));
  EXPECT_TRUE(module.isSelf);

  // Wine's kernel32 forwards GetLastError to kernelbase through an import slot.
  std::string text;
  qx::TInstrInfo info{};
  const char* at = static_cast<const char*>(getLastError);
  for (int i = 0; i < 8 && !info.isJump; ++i) {
    info = qx::DecodeInstructionText(at, text);
    ASSERT_TRUE(info.isValid) << text;
    at = reinterpret_cast<const char*>(static_cast<uintptr_t>(info.next));
  }
  ASSERT_TRUE(info.isJump) << text;
  EXPECT_NE(info.target, 0u);
  EXPECT_NE(text.find("; GetLastError (kernelbase.dll)"), std::string::npos) << text;
}

TEST(ProcessDecoder, FunctionsOfThisProcess) {
  Reserved r;
  qx::TFunctionInfo bad = qx::ParseFunction(r.reserved);
  EXPECT_FALSE(bad.isValid);
  EXPECT_EQ(bad.lastErrorCode, 87u);
  EXPECT_FALSE(bad.lastErrorText.empty());

  HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
  const void* entry = reinterpret_cast<const void*>(GetProcAddress(kernel32, "GetCurrentProcessId"));
  qx::TFunctionInfo info = qx::ParseFunction(entry);
  ASSERT_TRUE(info.isValid) << info.lastErrorText;
  EXPECT_EQ(info.codeBegin, AddressOf(entry));

  qx::DisAsmHook = nullptr;
  qx::LinkDisAsm();
  ASSERT_NE(qx::DisAsmHook, nullptr);
  std::string listing = qx::DisAsmHook(AddressOf(entry), AddressOf(entry), false, 5, nullptr);
  EXPECT_EQ(listing.rfind("public GetCurrentProcessId:", 9), 9u) << listing;
  EXPECT_NE(listing.find("> mov"), std::string::npos) << listing;
  EXPECT_NE(qx::DefaultRuntimeRoutines.haltRoutine, 0u);
}

// A thread names itself by raising an exception a debugger or handler continues: the code
// after RaiseException runs, and the analysis must keep it in the function (the call to
// AfterRaise below). By its code alone RaiseException never returns: it resumes a captured
// context.
__attribute__((noinline)) void AfterRaise() { asm volatile(""); }
__attribute__((noinline)) void RaiseThenCall() {
  RaiseException(0x406D1388, 0, 0, nullptr);
  AfterRaise();
  asm volatile("");
}

TEST(ProcessDecoder, RaiseExceptionComesBack) {
  qx::TFunctionInfo info = qx::ParseFunction(reinterpret_cast<const void*>(&RaiseThenCall));
  ASSERT_TRUE(info.isValid) << info.lastErrorText;
  bool callsAfterRaise = false;
  for (const qx::TFarCall& call : info.farCalls) {
    if (call.isCall && call.target == AddressOf(reinterpret_cast<const void*>(&AfterRaise)))
      callsAfterRaise = true;
  }
  EXPECT_TRUE(callsAfterRaise) << "code length " << info.codeLength;
}

}  // namespace
