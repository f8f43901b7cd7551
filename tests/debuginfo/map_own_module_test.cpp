// The map of our own module, built from the resource the build embedded, against what
// i686-w64-mingw32-addr2line says about the same addresses in the DWARF copy.
//
// Documented differences from addr2line: where inlined code begins a function, addr2line
// names the inlined callee and the map the function (checked against the symbol table
// then); addr2line and the map spell qualifiers, template arguments and parameter lists
// differently (the map drops parameter lists unless a unit holds several functions of one
// name, drops template arguments of names longer than 255 characters, the stdcall "@N" and
// one leading underscore of C names), so names are compared by the function's identifier.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "function_win.h"
#include "map_lookup.h"
#include "map_pe_file.h"
#include "map_sources.h"

namespace qx {
namespace {

struct Expected {
  uint32_t inner, start;
  int line;
  std::string unit, name, symbol;
};

std::string BinDir() {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string s(path, n);
  return s.substr(0, s.find_last_of("\\/") + 1);
}

// Mapped without running its start-up or resolving its imports: only its image is needed.
HMODULE MapModule(const std::string& path) {
  return LoadLibraryExA(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
}

std::vector<Expected> ReadExpectations() {
  std::ifstream in(QX_OWN_MODULE_EXPECT);
  std::vector<Expected> out;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream row(line);
    Expected e;
    std::string inner, start, number;
    std::getline(row, inner, '\t');
    std::getline(row, start, '\t');
    std::getline(row, number, '\t');
    std::getline(row, e.unit, '\t');
    std::getline(row, e.name, '\t');
    std::getline(row, e.symbol);
    e.inner = std::stoul(inner, nullptr, 16);
    e.start = std::stoul(start, nullptr, 16);
    e.line = std::stoi(number);
    if (e.unit == "-") e.unit.clear();
    out.push_back(e);
  }
  return out;
}

// "f<int>::g<x>" -> "f<>::g<>", leaving "operator<" and "operator<<" alone.
std::string CollapseTemplates(const std::string& name) {
  std::string out;
  int depth = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if (depth == 0 && name.compare(i, 10, "operator<<") == 0) {
      out += "operator<<";
      i += 9;
    } else if (depth == 0 && name.compare(i, 9, "operator<") == 0) {
      out += "operator<";
      i += 8;
    } else if (name[i] == '<') {
      if (depth++ == 0) out += '<';
    } else if (name[i] == '>' && depth > 0) {
      if (--depth == 0) out += '>';
    } else if (depth == 0) {
      out += name[i];
    }
  }
  return out;
}

// The function's own identifier, whatever the qualification, template arguments,
// parameters, return type, "[abi:...]" and "[clone ...]" tags or stdcall suffix around it: "qx::T<int>::
// Get(int) const [clone .cold]" and "int Get<>(int)@8" both give "Get".
std::string FinalIdentifier(std::string name) {
  size_t clone = name.find(" [clone ");
  if (clone != std::string::npos) name.resize(clone);
  size_t at = name.rfind('@');
  if (at != std::string::npos && at > 0 &&
      name.find_first_not_of("0123456789", at + 1) == std::string::npos)
    name.resize(at);
  for (size_t abi; (abi = name.find("[abi:")) != std::string::npos;)
    name.erase(abi, name.find(']', abi) - abi + 1);
  name = CollapseTemplates(name);
  for (const char* tail : {" const", " volatile", " &&", " &"})
    while (name.size() > std::strlen(tail) &&
           name.compare(name.size() - std::strlen(tail), std::string::npos, tail) == 0)
      name.resize(name.size() - std::strlen(tail));
  // "operator()" is a name whose own brackets are not a parameter list.
  const bool callOperator = name.size() >= 10 && name.compare(name.size() - 10, 10, "operator()") == 0;
  if (!name.empty() && name.back() == ')' && !callOperator) {
    int depth = 0;
    for (size_t i = name.size(); i-- > 0;) {
      depth += name[i] == ')' ? 1 : name[i] == '(' ? -1 : 0;
      if (depth == 0) {
        if (i > 0) name.resize(i);
        break;
      }
    }
  }
  while (name.size() > 2 && name.compare(name.size() - 2, 2, "<>") == 0) name.resize(name.size() - 2);
  size_t colon = name.rfind("::");
  if (colon != std::string::npos) name.erase(0, colon + 2);
  size_t blank = name.rfind(' ');
  if (blank != std::string::npos && name.compare(0, 8, "operator") != 0) name.erase(0, blank + 1);
  while (!name.empty() && name[0] == '_') name.erase(0, 1);
  return name;
}

// addr2line and the map agree on the function when they name the same identifier; their
// spellings of qualifiers, templates and parameters differ too much to compare more.
bool NamesAgree(const std::string& ours, const std::string& theirs) {
  return theirs == "?" || FinalIdentifier(ours) == FinalIdentifier(theirs);
}

class OwnModule : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = MapModule(BinDir() + "QXUdfLib.dll");
  }
  static HMODULE module_;
};
HMODULE OwnModule::module_ = nullptr;

TEST_F(OwnModule, EveryFunctionGivesItsUnitNameStartAndAddr2lineLine) {
  ASSERT_NE(module_, nullptr);
  const uint32_t base = reinterpret_cast<uint32_t>(module_);
  std::vector<Expected> expected = ReadExpectations();
  ASSERT_GE(expected.size(), 200u);
  size_t withLines = 0, mismatches = 0;
  for (const Expected& e : expected) {
    TMfLookup r;
    ASSERT_TRUE(LookupAddress(base + e.inner, r)) << std::hex << e.inner;
    bool ok = r.publicAddress == base + e.start && r.line == e.line && r.unitName == e.unit &&
              (NamesAgree(r.publicName, e.name) || NamesAgree(r.publicName, e.symbol));
    if (!ok && ++mismatches < 10)
      ADD_FAILURE() << std::hex << "rva " << e.inner << ": got " << r.unitName << " "
                    << r.publicName << " start " << r.publicAddress - base << " line " << std::dec
                    << r.line << "; addr2line " << e.unit << " " << e.name << " start "
                    << std::hex << e.start << " line " << std::dec << e.line;
    withLines += e.line != 0;
  }
  EXPECT_EQ(mismatches, 0u);
  EXPECT_GE(withLines, 200u);
}

TEST_F(OwnModule, ProcNameAndLineHooks) {
  ASSERT_NE(module_, nullptr);
  const uint32_t base = reinterpret_cast<uint32_t>(module_);
  const uint32_t setbit = reinterpret_cast<uint32_t>(GetProcAddress(module_, "fn_setbit"));
  ASSERT_NE(setbit, 0u);
  EXPECT_EQ(LookupProcName(setbit), "exports.cpp.fn_setbit");
  EXPECT_EQ(LookupProcName(setbit + 1), "");
  uint32_t line = 0, begin = 0, end = 0;
  LookupLine(setbit, line, begin, end);
  EXPECT_GT(line, 0u);
  EXPECT_EQ(begin, setbit);
  EXPECT_GT(end, setbit);
  // Inside the range the line in hand is kept without a lookup.
  uint32_t kept = 12345;
  uint32_t keptBegin = begin, keptEnd = end;
  LookupLine(setbit, kept, keptBegin, keptEnd);
  EXPECT_EQ(kept, 12345u);
  std::string name = "untouched";
  EXPECT_FALSE(ProcNameHookEntry(setbit + 1, name));
  EXPECT_EQ(name, "untouched");
  EXPECT_TRUE(ProcNameHookEntry(setbit, name));
  EXPECT_EQ(name, "exports.cpp.fn_setbit");
  EXPECT_EQ(keptBegin, begin);
  EXPECT_EQ(LocateMap(base + 0x1000).get(), LocateMap(setbit).get());  // cached
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  EXPECT_EQ(LocateMap(setbit)->entryPoint, base + nt->OptionalHeader.AddressOfEntryPoint);
}

TEST_F(OwnModule, ListingOfOurFunctionShowsOurNamesAndLines) {
  ASSERT_NE(module_, nullptr);
  const auto entry = reinterpret_cast<const void*>(GetProcAddress(module_, "fn_strReplace"));
  ASSERT_NE(entry, nullptr);
  MapFileStartup();
  const std::string listing = DisassembleFunction(entry, entry, false, 1000);
  uint32_t line = 0, begin = 0, end = 0;
  LookupLine(reinterpret_cast<uint32_t>(entry), line, begin, end);
  MapFileShutdown();
  const std::string without = DisassembleFunction(entry, entry, false, 1000);

  // Calls into our own units are named unit-qualified, with the module (not the caller's).
  EXPECT_NE(listing.find("; sql_functions.cpp.qx::StrReplace (QXUdfLib.dll)"), std::string::npos)
      << listing;
  EXPECT_NE(listing.find("; blob_io.cpp.qx::ToServerString (QXUdfLib.dll)"), std::string::npos);
  // The line column holds the map's line of each instruction.
  ASSERT_GT(line, 0u);
  char first[64];
  std::snprintf(first, sizeof first, "\n%08x %u > ", reinterpret_cast<uint32_t>(entry), line);
  EXPECT_NE(listing.find(first), std::string::npos) << first << listing;
  // Without the hooks the same listing knows neither.
  EXPECT_EQ(without.find("sql_functions.cpp."), std::string::npos) << without;
  std::snprintf(first, sizeof first, "\n%08x %u", reinterpret_cast<uint32_t>(entry), line);
  EXPECT_EQ(without.find(first), std::string::npos) << without;
}

TEST_F(OwnModule, ShippedModuleHasNoDwarfAndItsCodeDidNotMove) {
  std::string shipped, debug;
  ASSERT_TRUE(ReadFileBytes(BinDir() + "QXUdfLib.dll", shipped));
  ASSERT_TRUE(ReadFileBytes(BinDir() + "QXUdfLib.debug.dll", debug));
  EXPECT_EQ(shipped.find(".debug_info"), std::string::npos);
  EXPECT_LT(shipped.size() * 2, debug.size());
  std::string a = LayOutImage(shipped), b = LayOutImage(debug);
  TImageFacts fa = ReadImageFacts(a), fb = ReadImageFacts(b);
  ASSERT_TRUE(fa.valid && fb.valid);
  EXPECT_EQ(fa.baseOfCode, fb.baseOfCode);
  ASSERT_EQ(fa.topOfCode, fb.topOfCode);
  EXPECT_TRUE(a.compare(fa.baseOfCode, fa.topOfCode - fa.baseOfCode, b, fb.baseOfCode,
                        fb.topOfCode - fb.baseOfCode) == 0);
}

// A copy whose embedded resource is the minimal variant, with its ".qel" beside it.
TEST(OwnMinimalModule, SideFileGivesNamesAndWithoutItPlaceholdersNameTheModule) {
  const std::string dll = BinDir() + "QXUdfMin.dll", qel = BinDir() + "QXUdfMin.qel";
  HMODULE module = MapModule(dll);
  ASSERT_NE(module, nullptr);
  const uint32_t setbit = reinterpret_cast<uint32_t>(GetProcAddress(module, "fn_setbit"));
  EXPECT_EQ(LookupProcName(setbit), "exports.cpp.fn_setbit");
  EXPECT_TRUE(LocateMap(setbit)->minDebugInfo.empty());

  // Without the side file, and with a new stamp on the module, the map is rebuilt.
  const std::string aside = qel + ".aside";
  ASSERT_TRUE(MoveFileExA(qel.c_str(), aside.c_str(), MOVEFILE_REPLACE_EXISTING));
  HANDLE file = CreateFileA(dll.c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE |
                            FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  FILETIME t;
  ASSERT_TRUE(GetFileTime(file, nullptr, nullptr, &t));
  ULARGE_INTEGER later;
  later.LowPart = t.dwLowDateTime;
  later.HighPart = t.dwHighDateTime;
  later.QuadPart += 2ull * 864000000000ull;  // two days on
  t.dwLowDateTime = later.LowPart;
  t.dwHighDateTime = later.HighPart;
  EXPECT_TRUE(SetFileTime(file, nullptr, nullptr, &t));
  CloseHandle(file);
  std::string name = LookupProcName(setbit);
  MoveFileExA(aside.c_str(), qel.c_str(), MOVEFILE_REPLACE_EXISTING);
  EXPECT_EQ(name.rfind("segment%", 0), 0u) << name;
  EXPECT_NE(name.find(".public%"), std::string::npos) << name;
  EXPECT_NE(name.find(" (QXUdfMin.dll)"), std::string::npos) << name;
  TMfLookup r;
  ASSERT_TRUE(LookupAddress(setbit + 1, r));
  EXPECT_EQ(r.line, -1);  // this build has lines, but not here
  EXPECT_EQ(LocateMap(setbit)->minDebugInfo.size(), 31u);
}

TEST(OwnModuleEmbedding, ResourcesTheModuleHadSurviveBesideTheNewOne) {
  HMODULE module = MapModule(BinDir() + "map_rsrc_probe.dll");
  ASSERT_NE(module, nullptr);
  auto text = [&](const char* type, const char* name) {
    HRSRC info = FindResourceA(module, name, type);
    if (info == nullptr) return std::string("<none>");
    return std::string(static_cast<const char*>(LockResource(LoadResource(module, info))),
                       SizeofResource(module, info));
  };
  EXPECT_EQ(text(MAKEINTRESOURCEA(10), "TQELEXCEPT").substr(0, 4), "TPF0");
  EXPECT_EQ(text("PROBETYPE", "PROBENAME").substr(0, 5), "hello");
  EXPECT_EQ(text("QEL", "EXCEPT").substr(0, 14), "QXUdfLibDbgMap");
  const uint32_t add = reinterpret_cast<uint32_t>(GetProcAddress(module, "ProbeAdd"));
  EXPECT_EQ(LookupProcName(add), "probe.cpp.ProbeAdd");
}

TEST(OwnModuleLookup, AddressOutsideEveryModuleGivesNothing) {
  TMfLookup r;
  EXPECT_FALSE(LookupAddress(0x10, r));
  EXPECT_FALSE(LocateMap(0x10)->isValid);
  EXPECT_EQ(LookupProcName(0x10), "");
}

}  // namespace
}  // namespace qx
