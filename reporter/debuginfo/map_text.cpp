// Text map files as the linker writes them: section list, detailed segments, publics by
// value, line-number blocks and the program entry point.
#include <cctype>
#include <cstdlib>
#include <vector>

#include "map_sources.h"

namespace qx {

namespace {

enum class Block { kNone, kSections, kDetailed, kPublics, kLines };

struct TextMapState {
  Block block = Block::kNone;
  uint32_t codeLength = 0;  // rounded up to 4096
  int dataSegment = 2;
  bool haveSections = false;
};

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// Parses "SSSS:OOOOOOOO" at the start of text.
bool ParseSegOffset(std::string_view text, int& segment, uint32_t& offset) {
  if (text.size() < 13 || text[4] != ':') return false;
  for (size_t i = 0; i < 13; ++i)
    if (i != 4 && !IsHex(text[i])) return false;
  segment = static_cast<int>(std::strtoul(std::string(text.substr(0, 4)).c_str(), nullptr, 16));
  offset = static_cast<uint32_t>(std::strtoul(std::string(text.substr(5, 8)).c_str(), nullptr, 16));
  return true;
}

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  return s;
}

std::string_view TrimRight(std::string_view s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string StripPascalExtension(std::string_view name) {
  if (name.size() > 4) {
    std::string_view ext = name.substr(name.size() - 4);
    if (SameText(ext, ".pas") || SameText(ext, ".dpr"))
      return std::string(name.substr(0, name.size() - 4));
  }
  return std::string(name);
}

uint32_t Absolute(const TMapFile& map, const TextMapState& state, int segment, uint32_t offset) {
  if (segment >= state.dataSegment) return map.baseOfData + offset;
  if (segment > 1) return map.baseOfCode + state.codeLength + offset;
  return map.baseOfCode + offset;
}

void SectionLine(TMapFile& map, TextMapState& state, std::string_view line) {
  int segment = 0;
  uint32_t offset = 0;
  if (!ParseSegOffset(line, segment, offset)) return;
  if (line.find(".text") != std::string_view::npos && line.size() >= 23 && line[22] == 'H') {
    uint32_t length = static_cast<uint32_t>(
        std::strtoul(std::string(line.substr(14, 8)).c_str(), nullptr, 16));
    state.codeLength = (length + 4095u) & ~4095u;
  } else if (line.find(".data") != std::string_view::npos) {
    state.dataSegment = segment >= 2 && segment <= 9 ? segment : 2;
  }
}

void DetailedLine(TMapFile& map, TextMapState& state, std::string_view line) {
  int segment = 0;
  uint32_t offset = 0;
  if (line.size() <= 72 || !ParseSegOffset(line, segment, offset)) return;
  if (segment < 1 || segment > state.dataSegment) return;
  std::string_view rest = line.substr(14);
  if (rest.size() < 9) return;
  uint32_t length =
      static_cast<uint32_t>(std::strtoul(std::string(rest.substr(0, 8)).c_str(), nullptr, 16));
  // The unit is the word after the last "=", "\" or "|" before the last blank-separated word.
  std::string_view body = TrimRight(line);
  size_t lastBlank = body.find_last_of(" \t");
  if (lastBlank == std::string_view::npos) return;
  body = TrimRight(body.substr(0, lastBlank));
  size_t mark = body.find_last_of("=\\|");
  if (mark == std::string_view::npos) return;
  std::string_view unit = body.substr(mark + 1);
  size_t blank = unit.find_first_of(" \t");
  if (blank != std::string_view::npos) unit = unit.substr(0, blank);
  bool isCode = segment < state.dataSegment;
  AddSegment(map, isCode, Absolute(map, state, segment, offset), length, StripPascalExtension(unit));
}

void PublicLine(TMapFile& map, TextMapState& state, std::string_view line) {
  int segment = 0;
  uint32_t offset = 0;
  if (!ParseSegOffset(line, segment, offset) || segment < 1) return;
  std::string_view name = TrimRight(TrimLeft(line.substr(13)));
  if (!name.empty() && name.back() == ')') {
    size_t open = name.rfind('(');
    if (open != std::string_view::npos) name = TrimRight(name.substr(0, open));
  }
  if (name.empty()) return;
  bool isCode = segment < state.dataSegment;
  uint32_t address = Absolute(map, state, segment, offset);
  const TMfSegment* seg = SegmentAt(map, isCode, address);
  std::string_view unit = seg ? std::string_view(seg->name) : std::string_view();
  if (!unit.empty() && name.size() > unit.size() + 1 && name[unit.size()] == '.' &&
      SameText(name.substr(0, unit.size()), unit))
    name.remove_prefix(unit.size() + 1);
  AddPublic(map, isCode, name, address, unit);
}

void LineNumbersLine(TMapFile& map, TextMapState& state, std::string_view line,
                     uint32_t& previousAddress, bool& havePrevious) {
  while (true) {
    line = TrimLeft(line);
    if (line.empty()) return;
    size_t blank = line.find_first_of(" \t");
    if (blank == std::string_view::npos) return;
    std::string_view number = line.substr(0, blank);
    for (char c : number)
      if (!std::isdigit(static_cast<unsigned char>(c))) return;
    line = TrimLeft(line.substr(blank));
    int segment = 0;
    uint32_t offset = 0;
    if (!ParseSegOffset(line, segment, offset)) return;
    line.remove_prefix(13);
    uint32_t address = Absolute(map, state, segment, offset);
    if (havePrevious && address <= previousAddress) continue;
    previousAddress = address;
    havePrevious = true;
    AddLine(map, static_cast<uint32_t>(std::strtoul(std::string(number).c_str(), nullptr, 10)),
            address);
  }
}

}  // namespace

bool ParseTextMap(TMapFile& map, std::string_view text) {
  TextMapState state;
  bool sawSomething = false;
  uint32_t previousAddress = 0;
  bool havePrevious = false;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    line = TrimLeft(line);
    if (line.empty()) continue;

    if (line.substr(0, 5) == "Start" && line.find("Length") != std::string_view::npos &&
        line.find("Class") != std::string_view::npos) {
      state.block = Block::kSections;
      sawSomething = true;
      continue;
    }
    if (line.substr(0, 24) == "Detailed map of segments") {
      state.block = Block::kDetailed;
      continue;
    }
    if (line.find("Publics by Value") != std::string_view::npos) {
      MergeSegments(map);  // publics are placed in their segments by binary search
      state.block = Block::kPublics;
      continue;
    }
    if (line.find("Publics by Name") != std::string_view::npos) {
      state.block = Block::kNone;
      continue;
    }
    if (line.substr(0, 17) == "Line numbers for ") {
      state.block = Block::kLines;
      havePrevious = false;
      continue;
    }
    if (line.substr(0, 23) == "Program entry point at ") {
      int segment = 0;
      uint32_t offset = 0;
      if (ParseSegOffset(line.substr(23), segment, offset))
        map.entryPoint = Absolute(map, state, segment, offset);
      state.block = Block::kNone;
      continue;
    }
    switch (state.block) {
      case Block::kSections: SectionLine(map, state, line); break;
      case Block::kDetailed: DetailedLine(map, state, line); break;
      case Block::kPublics: PublicLine(map, state, line); break;
      case Block::kLines: LineNumbersLine(map, state, line, previousAddress, havePrevious); break;
      case Block::kNone: break;
    }
  }
  MergeSegments(map);
  SortPublics(map);
  return sawSomething || !map.segments.Empty() || !map.publics.Empty() || !map.lines.Empty();
}

}  // namespace qx
