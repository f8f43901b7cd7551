// Debug-information map of one module: units (segments), functions (publics) and source
// lines, with the rules that build it from the several debug-information sources and the
// binary searches that answer "which unit, function and line is this code address".
// Everything here works on plain memory; nothing calls Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qx {

struct TMfSegment {
  uint8_t isValid = 1;
  uint8_t isCode = 1;  // 1 code, 0 data
  uint32_t begin = 0;  // absolute
  uint32_t length = 0;
  std::string name;  // unit name
  uint8_t hasLines = 0;  // only meaningful with minimal debug information
};

struct TMfPublic {
  uint8_t isValid = 1;
  uint8_t isCode = 1;
  std::string name;
  uint32_t address = 0;  // absolute
};

struct TMfLine {
  uint32_t line = 0;
  uint32_t address = 0;  // absolute
};

// A growable array that grows the way the map's arrays always have: to 16 entries when
// empty or smaller than 8, else by half of the current capacity.
template <typename T>
class TMfArray {
 public:
  size_t Count() const { return items_.size(); }
  size_t Capacity() const { return capacity_; }
  bool Empty() const { return items_.empty(); }
  T& operator[](size_t i) { return items_[i]; }
  const T& operator[](size_t i) const { return items_[i]; }
  T& Back() { return items_.back(); }
  const T& Back() const { return items_.back(); }
  void Add(T item) {
    if (items_.size() == capacity_) {
      capacity_ = capacity_ < 8 ? 16 : capacity_ + capacity_ / 2;
      items_.reserve(capacity_);
    }
    items_.push_back(std::move(item));
  }
  void Insert(size_t index, T item) {
    if (items_.size() == capacity_) {
      capacity_ = capacity_ < 8 ? 16 : capacity_ + capacity_ / 2;
      items_.reserve(capacity_);
    }
    items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(index), std::move(item));
  }
  void Erase(size_t index) { items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index)); }
  void Clear() {
    items_.clear();
    capacity_ = 0;
    items_.shrink_to_fit();
  }
  std::vector<T>& Items() { return items_; }
  const std::vector<T>& Items() const { return items_; }

 private:
  std::vector<T> items_;
  size_t capacity_ = 0;
};

struct TMapFile {
  bool isValid = false;
  std::string moduleFileName;
  uint32_t moduleHandle = 0;
  uint32_t baseOfCode = 0, topOfCode = 0;
  uint32_t baseOfData = 0, topOfData = 0;
  uint32_t entryPoint = 0;
  std::string minDebugInfo;  // 31-character identification of a minimal build, else empty
  TMfArray<TMfSegment> segments;
  TMfArray<TMfPublic> publics;
  TMfArray<TMfLine> lines;
  // Section start addresses (absolute) by 1-based section number, for sources that give
  // segment:offset addresses. Empty when the image headers were not available.
  std::vector<uint32_t> sectionBases;
};

// --- adding items while importing ------------------------------------------------------

// Appends a segment, or extends the previous segment of the same kind when it has the same
// name and the new one begins at most 2 bytes after its end.
void AddSegment(TMapFile& map, bool isCode, uint32_t begin, uint32_t length, std::string_view name,
                bool hasLines = false);
// Places a segment in (kind, begin, length) order; used by sources that are not ordered.
void InsertSegment(TMapFile& map, bool isCode, uint32_t begin, uint32_t length,
                   std::string_view name);

// Applies the public rules (skipped runtime helper names, reduction of decorated names,
// "initialization", unit prefix) relative to segmentUnit, then appends. Returns false when
// the name was skipped.
bool AddPublic(TMapFile& map, bool isCode, std::string_view name, uint32_t address,
               std::string_view segmentUnit);
// The unit-relative form of a public name, as AddPublic stores it; empty when skipped.
std::string PublicDisplayName(std::string_view name, std::string_view segmentUnit, bool* skipped);

// For sources without segment boundaries: extends the current code segment up to the
// public, or starts a new one when the public's unit differs. Then adds the public.
void AddPublicGrowingSegment(TMapFile& map, bool isCode, std::string_view unit,
                             std::string_view name, uint32_t address);

void AddLine(TMapFile& map, uint32_t line, uint32_t address);

// Sorting and merging after a source was read.
void SortSegments(TMapFile& map);
void MergeSegments(TMapFile& map);
void SortPublics(TMapFile& map);
void SortLines(TMapFile& map);

// --- searches ----------------------------------------------------------------------------

const TMfSegment* SegmentAt(const TMapFile& map, bool isCode, uint32_t address);
const TMfPublic* PublicAt(const TMapFile& map, uint32_t address);
uint32_t PublicByName(const TMapFile& map, bool isCode, std::string_view unitName,
                      bool caseSensitive, std::string_view publicName);
// Returns the line number (0 none, -1 lines exist but this build has none) and sets
// nextLineAddress to the address of the following line item (address + 1 when none).
int LineAt(const TMapFile& map, uint32_t address, uint32_t& nextLineAddress);

// The line hook's rule over one map: keeps line while address stays in [rangeBegin,
// rangeEnd); otherwise looks it up (negative results become 0) and sets the range to
// [address, next line item), or [address, address + 1) when no item follows.
void LineHookInMap(const TMapFile& map, uint32_t address, uint32_t& line, uint32_t& rangeBegin,
                   uint32_t& rangeEnd);

// What LookupAddress reports for an address of a known map.
struct TMfLookup {
  std::string moduleFileName;
  std::string unitName;
  std::string publicName;
  uint32_t publicAddress = 0;
  int line = 0;
};
bool LookupInMap(const TMapFile& map, uint32_t address, TMfLookup& result);
// The name LookupProcName gives: only for an address where a public starts.
std::string ProcNameInMap(const TMapFile& map, uint32_t address);

// Text helpers shared by the parsers.
bool SameText(std::string_view a, std::string_view b);
std::string FileNameOnly(std::string_view path);
std::string StripExtension(std::string_view path);

}  // namespace qx
