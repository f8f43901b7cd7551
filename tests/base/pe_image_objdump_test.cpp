// The view over real modules compared with what binutils' objdump reads from them: this
// build's QXUdfLib.dll and Wine's kernel32.dll (many forwarders). Native only: the test runs
// objdump itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "ci_environment.h"
#include "pe_image.h"

namespace {

constexpr char kObjdump[] = "i686-w64-mingw32-objdump";
constexpr char kWineKernel32[] = "/usr/lib/i386-linux-gnu/wine/i386-windows/kernel32.dll";

std::string ModuleBuildDir() {
  const char* dir = std::getenv("QX_WINDOWS_BUILD_DIR");
  return dir != nullptr && *dir != '\0' ? dir : QX_DEFAULT_WINDOWS_BUILD_DIR;
}

bool RunObjdump(const std::string& path, std::string& output) {
  const std::string command = std::string(kObjdump) + " -p -h '" + path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return false;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
  return pclose(pipe) == 0 && !output.empty();
}

struct ObjdumpSection {
  std::string name;
  uint32_t size, vma, fileOffset;
};

struct ObjdumpExport {
  uint32_t rva = 0;
  std::string forwarder;  // empty for code or data
};

struct ObjdumpView {
  uint32_t imageBase = 0, sizeOfImage = 0, checksum = 0, entry = 0, ordinalBase = 0;
  std::vector<ObjdumpSection> sections;
  std::map<uint32_t, ObjdumpExport> exportsByOrdinal;
  std::map<std::string, uint32_t> ordinalOfName;
};

uint32_t Hex(const std::string& text) { return static_cast<uint32_t>(std::stoul(text, nullptr, 16)); }

// Reads the lines of "objdump -p -h" this test compares; the formats are binutils' own.
ObjdumpView ParseObjdump(const std::string& text) {
  ObjdumpView view;
  std::istringstream lines(text);
  std::string line;
  enum { kNone, kAddresses, kNames, kSections } part = kNone;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first, second;
    words >> first;
    if (first == "ImageBase") words >> second, view.imageBase = Hex(second);
    if (first == "SizeOfImage") words >> second, view.sizeOfImage = Hex(second);
    if (first == "CheckSum") words >> second, view.checksum = Hex(second);
    if (first == "AddressOfEntryPoint") words >> second, view.entry = Hex(second);
    if (line.rfind("Export Address Table -- Ordinal Base", 0) == 0) {
      view.ordinalBase = static_cast<uint32_t>(std::stoul(line.substr(line.rfind(' ') + 1)));
      part = kAddresses;
      continue;
    }
    if (line.rfind("[Ordinal/Name Pointer] Table", 0) == 0) {
      part = kNames;
      continue;
    }
    if (line.rfind("Idx Name", 0) == 0) {
      part = kSections;
      continue;
    }
    if (line.empty()) {
      if (part != kSections) part = kNone;
      continue;
    }
    if (part == kAddresses && line.find("+base[") != std::string::npos) {
      // "[   0] +base[   1] 47c29 Forwarder RVA -- krnl386.exe16.VxDCall0"
      const size_t close = line.find(']', line.find("+base["));
      const uint32_t ordinal =
          static_cast<uint32_t>(std::stoul(line.substr(line.find("+base[") + 6)));
      std::istringstream rest(line.substr(close + 1));
      std::string rva;
      rest >> rva;
      ObjdumpExport entry;
      entry.rva = Hex(rva);
      const size_t arrow = line.find("Forwarder RVA -- ");
      if (arrow != std::string::npos) entry.forwarder = line.substr(arrow + 17);
      view.exportsByOrdinal[ordinal] = entry;
    } else if (part == kNames && line.find('[') != std::string::npos) {
      // "[  48] AcquireSRWLockExclusive"
      const size_t close = line.find(']');
      const uint32_t ordinal = static_cast<uint32_t>(std::stoul(line.substr(line.find('[') + 1)));
      view.ordinalOfName[line.substr(close + 2)] = ordinal;
    } else if (part == kSections && !first.empty() && std::isdigit(static_cast<unsigned char>(first[0]))) {
      // "  0 .text  0002d16c  7b601000  7b601000  00001000  2**2"
      ObjdumpSection section;
      std::string size, vma, lma, offset;
      words >> section.name >> size >> vma >> lma >> offset;
      section.size = Hex(size);
      section.vma = Hex(vma);
      section.fileOffset = Hex(offset);
      view.sections.push_back(section);
    }
  }
  return view;
}

void CompareWithObjdump(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (qx::RunningUnderCi()) {
      FAIL() << "missing " << path;
    }
    GTEST_SKIP() << "missing " << path << " (build the Windows tree first)";
  }
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string output;
  if (!RunObjdump(path, output)) {
    if (qx::RunningUnderCi()) {
      FAIL() << kObjdump << " did not run on " << path;
    }
    GTEST_SKIP() << kObjdump << " is not installed";
  }
  const ObjdumpView expected = ParseObjdump(output);
  qx::SpanReader reader(file);
  qx::PeImage view(reader, 0, qx::PeLayout::kFile);
  ASSERT_TRUE(view.Open());
  EXPECT_EQ(view.ImageBase(), expected.imageBase);
  EXPECT_EQ(view.SizeOfImage(), expected.sizeOfImage);
  EXPECT_EQ(view.Checksum(), expected.checksum);
  EXPECT_EQ(view.EntryPoint(), expected.entry);

  ASSERT_EQ(view.SectionCount(), expected.sections.size());
  for (uint32_t i = 0; i < view.SectionCount(); ++i) {
    qx::PeSection section;
    ASSERT_TRUE(view.Section(i, section));
    const ObjdumpSection& want = expected.sections[i];
    SCOPED_TRACE(want.name);
    // Long names live in the symbol string table ("/4"), which objdump resolves.
    if (section.name[0] != '/') {
      EXPECT_EQ(std::string(section.name), want.name);
    }
    EXPECT_EQ(view.ImageBase() + section.virtualAddress, want.vma);
    EXPECT_EQ(section.rawPointer, want.fileOffset);
    const uint32_t size = section.rawSize == 0 || section.virtualSize == 0
                              ? section.MappedSize()
                              : std::min(section.virtualSize, section.rawSize);
    EXPECT_EQ(size, want.size);
  }

  qx::PeExports exports;
  ASSERT_TRUE(view.Exports(exports));
  EXPECT_EQ(exports.ordinalBase, expected.ordinalBase);
  size_t listed = 0;
  for (uint32_t index = 0; index < exports.functionCount; ++index) {
    uint32_t rva = 0;
    ASSERT_TRUE(view.ExportFunction(exports, index, rva));
    auto found = expected.exportsByOrdinal.find(exports.ordinalBase + index);
    if (rva == 0) continue;  // objdump leaves out unused slots
    ASSERT_NE(found, expected.exportsByOrdinal.end()) << "ordinal " << exports.ordinalBase + index;
    ++listed;
    EXPECT_EQ(rva, found->second.rva);
    std::string forwarder;
    EXPECT_EQ(view.ExportForwarder(exports, index, forwarder), !found->second.forwarder.empty());
    EXPECT_EQ(forwarder, found->second.forwarder);
  }
  EXPECT_EQ(listed, expected.exportsByOrdinal.size());
  ASSERT_EQ(exports.nameCount, expected.ordinalOfName.size());
  for (uint32_t i = 0; i < exports.nameCount; ++i) {
    std::string name;
    uint32_t index = 0;
    ASSERT_TRUE(view.ExportName(exports, i, name, index));
    auto found = expected.ordinalOfName.find(name);
    ASSERT_NE(found, expected.ordinalOfName.end()) << name;
    // objdump prints the ordinal table's entry: the function index, without the base.
    EXPECT_EQ(index, found->second) << name;
    // The look-up by name scans the name table: a sample of names keeps the test quick.
    if (i % 64 != 0 && i + 1 != exports.nameCount) continue;
    uint32_t rva = 0, direct = 0;
    EXPECT_TRUE(view.FindExport(name, rva)) << name;
    ASSERT_TRUE(view.ExportFunction(exports, index, direct));
    EXPECT_EQ(rva, direct) << name;
  }
}

TEST(PeImageAgainstObjdump, ThisBuildsModule) {
  CompareWithObjdump(ModuleBuildDir() + "/bin/QXUdfLib.dll");
}

TEST(PeImageAgainstObjdump, WineKernel32WithForwarders) { CompareWithObjdump(kWineKernel32); }

}  // namespace
