// JDBG binary debug data, version 1: units, line numbers and symbols as delta-coded
// lists, names as 6-bit packed words.
//
// Header (34 bytes): "JDBG", version byte, then the offsets of the unit list, the source
// name list, the symbol list, the line-number list, the word table and the module name
// (32-bit each), a 32-bit checksum and a byte telling whether the checksum is valid.
// Numbers are 7-bit groups, low group first, bit 7 set on every byte but the last; the
// value 7FFFFFFFh ends a list. Offsets are relative to the base of code.
//   units:   offset delta, name delta; the next offset delta is this unit's size
//   lines:   offset delta, line delta
//   symbols: offset delta, first-word delta, second-word delta; "first.second"
// Words are addressed by 1-based offsets into the word table. A word starting with byte 1
// is plain text with each byte but AAh xor-ed with AAh; one starting with byte 2 is
// "@" followed by packed text; any other is packed text: 6-bit codes, four in three bytes
// low bits first, 1-10 digits, 11-36 "A"-"Z", 37-62 "a"-"z", 63 "_", 0 the end.
// The checksum, when valid, is the 32-bit sum of the file's 32-bit words after the header.
#include <algorithm>

#include "map_sources.h"
#include "map_stream.h"

namespace qx {

namespace {

constexpr uint32_t kJdbgSignature = 0x4742444A;  // "JDBG"
constexpr size_t kJdbgHeaderSize = 34;
constexpr uint32_t kEndOfList = 0x7FFFFFFF;

struct JdbgHeader {
  uint32_t units = 0, sourceNames = 0, symbols = 0, lineNumbers = 0, words = 0, moduleName = 0;
  uint32_t checkSum = 0;
  bool checkSumValid = false;
};

class ValueReader {
 public:
  ValueReader(std::string_view data, uint32_t offset) : data_(data), pos_(offset) {}
  // False at the end of the list or of the data.
  bool Next(uint32_t& value) {
    uint64_t result = 0;
    for (int shift = 0; shift < 35; shift += 7) {
      if (pos_ >= data_.size()) return false;
      uint8_t b = static_cast<uint8_t>(data_[pos_++]);
      result |= uint64_t(b & 0x7f) << shift;
      if (!(b & 0x80)) {
        value = static_cast<uint32_t>(result);
        return value != kEndOfList;
      }
    }
    return false;
  }

 private:
  std::string_view data_;
  size_t pos_;
};

char PackedChar(uint8_t code) {
  if (code <= 0x0A) return static_cast<char>('0' + code - 1);
  if (code <= 0x24) return static_cast<char>('A' + code - 0x0B);
  if (code <= 0x3E) return static_cast<char>('a' + code - 0x25);
  return '_';
}

std::string Word(std::string_view data, const JdbgHeader& header, uint32_t offset) {
  if (offset == 0) return {};
  uint64_t at = uint64_t(header.words) + offset - 1;
  if (at >= data.size()) return {};
  std::string out;
  const auto byteAt = [&](uint64_t i) { return i < data.size() ? static_cast<uint8_t>(data[i]) : 0; };
  if (byteAt(at) == 1) {
    for (uint64_t i = at + 1; i < data.size() && data[i] != 0 && out.size() < 255; ++i) {
      uint8_t c = static_cast<uint8_t>(data[i]);
      out += static_cast<char>(c == 0xAA ? c : c ^ 0xAA);
    }
    return out;
  }
  if (byteAt(at) == 2) {
    out += '@';
    ++at;
  }
  for (uint32_t i = 0; out.size() < 255; ++i) {
    uint8_t code = 0;
    switch (i & 3) {
      case 0: code = byteAt(at) & 0x3F; break;
      case 1: code = static_cast<uint8_t>((byteAt(at) >> 6) | (byteAt(at + 1) & 0x0F) << 2); ++at; break;
      case 2: code = static_cast<uint8_t>((byteAt(at) >> 4) | (byteAt(at + 1) & 0x03) << 4); ++at; break;
      case 3: code = byteAt(at) >> 2; ++at; break;
    }
    if (code == 0 || at >= data.size()) break;
    out += PackedChar(code);
  }
  return out;
}

bool ReadHeader(std::string_view data, JdbgHeader& header) {
  uint32_t signature = 0;
  if (data.size() < kJdbgHeaderSize + 1 || data.size() % 4 != 0 || !GetU32(data, 0, signature) ||
      signature != kJdbgSignature || data[4] != 1)
    return false;
  uint32_t* fields[] = {&header.units,       &header.sourceNames, &header.symbols,
                        &header.lineNumbers, &header.words,       &header.moduleName,
                        &header.checkSum};
  for (size_t i = 0; i < 7; ++i) GetU32(data, 5 + 4 * i, *fields[i]);
  header.checkSumValid = data[33] != 0;
  if (header.checkSumValid) {
    uint32_t sum = 0, word = 0;
    for (size_t at = kJdbgHeaderSize; at + 4 <= data.size(); at += 4) {
      GetU32(data, at, word);
      sum += word;
    }
    if (sum != header.checkSum) return false;
  }
  return true;
}

}  // namespace

bool ParseJdbg(TMapFile& map, std::string_view data) {
  JdbgHeader header;
  if (!ReadHeader(data, header)) return false;
  const uint32_t base = map.baseOfCode;

  // Units: each ends where the next begins; the last one up to the top of code.
  ValueReader units(data, header.units);
  uint32_t offset = 0, nameOffset = 0, delta = 0;
  bool more = units.Next(delta);
  while (more) {
    offset += delta;
    uint32_t nameDelta = 0;
    units.Next(nameDelta);
    nameOffset += nameDelta;
    std::string name = FileNameOnly(Word(data, header, nameOffset));
    more = units.Next(delta);
    uint32_t length = more ? delta
                           : (map.topOfCode > base + offset ? map.topOfCode - base - offset : 0);
    AddSegment(map, true, base + offset, length, name);
  }
  MergeSegments(map);

  ValueReader lines(data, header.lineNumbers);
  uint32_t line = 0;
  offset = 0;
  while (lines.Next(delta)) {
    offset += delta;
    uint32_t lineDelta = 0;
    lines.Next(lineDelta);
    line += lineDelta;
    AddLine(map, line, base + offset);
  }

  ValueReader symbols(data, header.symbols);
  uint32_t first = 0, second = 0;
  offset = 0;
  TMapFile grown;
  while (symbols.Next(delta)) {
    offset += delta;
    uint32_t d1 = 0, d2 = 0;
    symbols.Next(d1);
    symbols.Next(d2);
    first += d1;
    second += d2;
    std::string unit = Word(data, header, first);
    std::string name = second != 0 ? unit + "." + Word(data, header, second) : unit;
    const uint32_t address = base + offset;
    if (const TMfSegment* seg = SegmentAt(map, true, address)) {
      std::string_view shown = name;
      if (shown.size() > seg->name.size() + 1 && shown[seg->name.size()] == '.' &&
          SameText(shown.substr(0, seg->name.size()), seg->name))
        shown.remove_prefix(seg->name.size() + 1);
      AddPublic(map, true, shown, address, seg->name);
    } else {
      AddPublicGrowingSegment(grown, true, second != 0 ? unit : std::string(),
                              second != 0 ? Word(data, header, second) : name, address);
    }
  }
  for (auto& seg : grown.segments.Items()) map.segments.Add(std::move(seg));
  for (auto& pub : grown.publics.Items()) map.publics.Add(std::move(pub));
  SortPublics(map);
  MergeSegments(map);
  return !map.segments.Empty() || !map.publics.Empty() || !map.lines.Empty();
}

}  // namespace qx
