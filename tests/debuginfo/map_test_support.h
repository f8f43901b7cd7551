// Builders of synthetic module images and debug-information files for the map tests.
#pragma once

#include <cstdint>
#include <array>
#include <map>
#include <string>
#include <vector>

#include "map_sources.h"
#include "map_stream.h"

namespace qx::test {

inline void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v & 0xff);
  s += static_cast<char>(v >> 8);
}
inline void Put32(std::string& s, uint32_t v) { PutU32(s, v); }
inline void Set32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

struct SectionSpec {
  std::string name;
  uint32_t rva, size, flags;
};

// A PE32 image in loaded layout: headers at 0, sections at their RVAs.
// Code at 0x1000 (0x2000 bytes), data at 0x3000 (0x1000 bytes) unless given otherwise.
std::string MakeImage(std::vector<SectionSpec> sections = {},
                      uint32_t debugDirRva = 0, uint32_t debugDirSize = 0);

// Environment double: files by path, optional resources, file days.
class FakeEnvironment : public IMapEnvironment {
 public:
  std::map<std::string, std::string> files;
  std::map<std::string, int64_t> days;
  bool hasQel = false;
  std::string qel;
  bool hasSettings = false;
  std::string settings;

  bool ReadResource(bool rcData, const char*, const char*, std::string& out) override {
    if (rcData ? !hasSettings : !hasQel) return false;
    out = rcData ? settings : qel;
    return true;
  }
  bool ReadWholeFile(const std::string& path, std::string& out) override {
    auto it = files.find(path);
    if (it == files.end()) return false;
    out = it->second;
    return true;
  }
  bool FileLastWriteDay(const std::string& path, int64_t& day) override {
    auto it = days.find(path);
    if (it == days.end()) return false;
    day = it->second;
    return true;
  }
};

// A settings property stream holding MinDebugInfo.
std::string SettingsWithMinDebugInfo(const std::string& id);

// TD32 writer following the record layouts the parser documents.
struct Td32Input {
  struct Module { std::string name; std::vector<std::array<uint32_t, 3>> segs; };  // seg, off, size
  struct Source { std::string file; uint16_t seg; uint32_t start, end;
                  std::vector<std::pair<uint32_t, uint16_t>> lines; };  // offset, line
  struct Sym { uint16_t kind; uint16_t seg; uint32_t offset; std::string name; };
  std::vector<Module> modules;
  std::vector<Source> sources;
  std::vector<Sym> symbols;
  bool alignSym = false;  // 125h instead of 129h
};
std::string MakeTd32(const Td32Input& input);

// JDBG version 1 writer following the layout the parser documents. Names of letters,
// digits and "_" are packed 6-bit words, others plain words.
struct JdbgInput {
  std::vector<std::pair<uint32_t, std::string>> units;  // offset, name
  std::vector<std::pair<uint32_t, uint32_t>> lines;     // offset, line
  struct Sym { uint32_t offset; std::string first, second; };
  std::vector<Sym> symbols;
  bool checksum = true;
};
std::string MakeJdbg(const JdbgInput& input);

}  // namespace qx::test
