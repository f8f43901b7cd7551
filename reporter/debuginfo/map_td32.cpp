// TD32 debug information: subsection directories; names, modules, source modules and
// global symbols become segments, lines and publics.
//
// Record layouts read here (offsets from the start of each structure):
//   base: "FB09"/"FB0A", +4 directory offset.
//   directory header: +0 header size (16-bit), +2 entry size (16-bit), +4 entry count,
//     +8 next directory offset (0 ends the chain); entry: +0 type (16-bit), +2 module
//     index (16-bit), +4 offset from base, +8 size.
//   130h names: count, then per name a length byte, the bytes and a zero byte (1-based).
//   120h module: +4 segment count (16-bit), +8 name index, +1Ch per segment: segment
//     number (16-bit), flags (16-bit), offset, size. Segment 1 holds code.
//   127h source module: file count (16-bit), segment count (16-bit), file offsets, per
//     segment a start/end pair, segment numbers (16-bit). File: segment count (16-bit),
//     pad, line-table offsets, start/end pairs, name index. Line table: segment (16-bit),
//     pair count (16-bit), offsets, line numbers (16-bit).
//   129h global symbols: 16-byte header with the symbol bytes at +4; 125h: a 4-byte
//     signature. Symbol record: length (16-bit, excluding itself), kind (16-bit);
//     204h/205h: offset at +28, segment at +32, name index at +40;
//     201h/202h, 20h, 21h: offset at +4, segment at +8, name index at +16.
#include <algorithm>
#include <vector>

#include "map_sources.h"
#include "map_stream.h"

namespace qx {

namespace {

struct DirEntry {
  uint16_t type;
  uint32_t offset, size;
};

struct Symbol {
  bool isCode;
  uint32_t address;
  std::string name;
};

constexpr size_t kMaxDirectories = 256;

uint32_t SegmentBase(const TMapFile& map, uint16_t segment) {
  if (segment >= 1 && segment <= map.sectionBases.size()) return map.sectionBases[segment - 1];
  return segment == 1 ? map.baseOfCode : map.baseOfData;
}

std::string_view Sub(std::string_view data, uint32_t offset, uint32_t size) {
  if (offset > data.size()) return {};
  return data.substr(offset, std::min<size_t>(size, data.size() - offset));
}

std::vector<std::string> ReadNames(std::string_view sub) {
  std::vector<std::string> names;
  uint32_t count = 0;
  if (!GetU32(sub, 0, count)) return names;
  size_t pos = 4;
  for (uint32_t i = 0; i < count && pos < sub.size(); ++i) {
    uint8_t length = static_cast<uint8_t>(sub[pos]);
    if (sub.size() - pos - 1 < length) break;
    names.emplace_back(sub.substr(pos + 1, length));
    pos += 1 + length + 1;
  }
  return names;
}

std::string NameAt(const std::vector<std::string>& names, uint32_t index) {
  return index >= 1 && index <= names.size() ? names[index - 1] : std::string();
}

void ReadModule(TMapFile& map, std::string_view sub, const std::vector<std::string>& names) {
  uint16_t segCount = 0;
  uint32_t nameIndex = 0;
  if (!GetU16(sub, 4, segCount) || !GetU32(sub, 8, nameIndex)) return;
  std::string unit = FileNameOnly(NameAt(names, nameIndex));
  bool haveData = false;
  for (uint32_t i = 0; i < segCount; ++i) {
    uint16_t segment = 0;
    uint32_t offset = 0, size = 0;
    uint64_t at = 0x1C + 12ull * i;
    if (!GetU16(sub, at, segment) || !GetU32(sub, at + 4, offset) || !GetU32(sub, at + 8, size))
      return;
    bool isCode = segment == 1;
    if (!isCode) {
      if (haveData) continue;
      haveData = true;
    }
    AddSegment(map, isCode, SegmentBase(map, segment) + offset, size, unit);
  }
}

void ReadSourceModule(TMapFile& map, std::string_view sub, const std::vector<std::string>& names) {
  uint16_t fileCount = 0;
  if (!GetU16(sub, 0, fileCount)) return;
  for (uint32_t f = 0; f < fileCount; ++f) {
    uint32_t fileAt = 0;
    uint16_t segCount = 0;
    if (!GetU32(sub, 4 + 4ull * f, fileAt) || !GetU16(sub, fileAt, segCount)) return;
    uint64_t rangesAt = uint64_t(fileAt) + 4 + 4ull * segCount;
    uint32_t nameIndex = 0;
    if (!GetU32(sub, rangesAt + 8ull * segCount, nameIndex)) return;
    std::string unit = FileNameOnly(NameAt(names, nameIndex));
    for (uint32_t s = 0; s < segCount; ++s) {
      uint32_t tableAt = 0, start = 0, end = 0;
      uint16_t segment = 0, pairs = 0;
      if (!GetU32(sub, uint64_t(fileAt) + 4 + 4ull * s, tableAt) ||
          !GetU32(sub, rangesAt + 8ull * s, start) || !GetU32(sub, rangesAt + 8ull * s + 4, end) ||
          !GetU16(sub, tableAt, segment) || !GetU16(sub, uint64_t(tableAt) + 2, pairs))
        return;
      uint32_t base = SegmentBase(map, segment);
      if (end >= start) AddSegment(map, true, base + start, end - start + 1, unit);
      uint64_t offsetsAt = uint64_t(tableAt) + 4, linesAt = offsetsAt + 4ull * pairs;
      for (uint32_t p = 0; p < pairs; ++p) {
        uint32_t offset = 0;
        uint16_t line = 0;
        if (!GetU32(sub, offsetsAt + 4ull * p, offset) || !GetU16(sub, linesAt + 2ull * p, line))
          return;
        AddLine(map, line, base + offset);
      }
    }
  }
}

void ReadSymbols(const TMapFile& map, std::string_view records,
                 const std::vector<std::string>& names, std::vector<Symbol>& out) {
  size_t pos = 0;
  while (pos + 4 <= records.size()) {
    uint16_t length = 0, kind = 0;
    GetU16(records, pos, length);
    GetU16(records, pos + 2, kind);
    std::string_view rec = records.substr(pos, std::min<size_t>(length + 2u, records.size() - pos));
    pos += length + 2u;
    uint32_t offset = 0, nameIndex = 0;
    uint16_t segment = 0;
    if ((kind == 0x204 || kind == 0x205) && rec.size() >= 44) {
      GetU32(rec, 28, offset);
      GetU16(rec, 32, segment);
      GetU32(rec, 40, nameIndex);
      out.push_back({true, SegmentBase(map, segment) + offset, NameAt(names, nameIndex)});
    } else if ((kind == 0x201 || kind == 0x202 || kind == 0x20 || kind == 0x21) &&
               rec.size() >= 20) {
      GetU32(rec, 4, offset);
      GetU16(rec, 8, segment);
      GetU32(rec, 16, nameIndex);
      out.push_back({kind == 0x20, SegmentBase(map, segment) + offset, NameAt(names, nameIndex)});
    }
  }
}

// The unit a decorated name carries ("@Unit@Routine$..."), else empty.
std::string DecoratedUnit(std::string_view name) {
  if (name.size() < 2 || name[0] != '@') return {};
  size_t at = name.find('@', 1);
  if (at == std::string_view::npos) return {};
  std::string_view unit = name.substr(1, at - 1);
  if (unit.find('$') != std::string_view::npos) return {};
  return std::string(unit);
}

}  // namespace

bool ParseTd32(TMapFile& map, std::string_view data) {
  if (data.size() < 8 || (data.substr(0, 4) != "FB09" && data.substr(0, 4) != "FB0A")) return false;
  std::vector<DirEntry> entries;
  uint32_t dirAt = 0;
  GetU32(data, 4, dirAt);
  for (size_t n = 0; dirAt != 0 && n < kMaxDirectories; ++n) {
    uint16_t headerSize = 0, entrySize = 0;
    uint32_t count = 0, next = 0;
    if (!GetU16(data, dirAt, headerSize) || !GetU16(data, dirAt + 2ull, entrySize) ||
        !GetU32(data, dirAt + 4ull, count) || !GetU32(data, dirAt + 8ull, next) || entrySize < 12)
      break;
    for (uint32_t i = 0; i < count; ++i) {
      uint64_t at = uint64_t(dirAt) + headerSize + uint64_t(entrySize) * i;
      DirEntry e{};
      if (!GetU16(data, at, e.type) || !GetU32(data, at + 4, e.offset) ||
          !GetU32(data, at + 8, e.size))
        break;
      entries.push_back(e);
    }
    if (next == dirAt) break;
    dirAt = next;
  }
  if (entries.empty()) return false;

  std::vector<std::string> names;
  for (const auto& e : entries)
    if (e.type == 0x130) names = ReadNames(Sub(data, e.offset, e.size));
  for (const auto& e : entries)
    if (e.type == 0x120) ReadModule(map, Sub(data, e.offset, e.size), names);
  for (const auto& e : entries)
    if (e.type == 0x127) ReadSourceModule(map, Sub(data, e.offset, e.size), names);
  MergeSegments(map);

  std::vector<Symbol> symbols;
  bool haveGlobal = std::any_of(entries.begin(), entries.end(),
                                [](const DirEntry& e) { return e.type == 0x129; });
  for (const auto& e : entries) {
    std::string_view sub = Sub(data, e.offset, e.size);
    if (e.type == 0x129) {
      uint32_t bytes = 0;
      if (GetU32(sub, 4, bytes)) ReadSymbols(map, Sub(sub, 16, bytes), names, symbols);
    } else if (e.type == 0x125 && !haveGlobal) {
      ReadSymbols(map, Sub(sub, 4, static_cast<uint32_t>(sub.size())), names, symbols);
    }
  }
  std::stable_sort(symbols.begin(), symbols.end(),
                   [](const Symbol& a, const Symbol& b) { return a.address < b.address; });
  // Symbols outside the modules' segments grow segments of their own, kept apart so that
  // growing never stretches a segment the modules described.
  TMapFile grown;
  for (const auto& sym : symbols) {
    if (const TMfSegment* seg = SegmentAt(map, sym.isCode, sym.address))
      AddPublic(map, sym.isCode, sym.name, sym.address, seg->name);
    else
      AddPublicGrowingSegment(grown, sym.isCode, DecoratedUnit(sym.name), sym.name, sym.address);
  }
  for (auto& seg : grown.segments.Items()) map.segments.Add(std::move(seg));
  for (auto& pub : grown.publics.Items()) map.publics.Add(std::move(pub));
  SortPublics(map);
  MergeSegments(map);
  return !map.segments.Empty() || !map.publics.Empty() || !map.lines.Empty();
}

}  // namespace qx
