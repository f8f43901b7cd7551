#include "map_file.h"

#include <algorithm>
#include <cctype>

namespace qx {

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string FileNameOnly(std::string_view path) {
  size_t cut = path.find_last_of("\\/:");
  return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string StripExtension(std::string_view path) {
  size_t dot = path.rfind('.');
  size_t sep = path.find_last_of("\\/:");
  if (dot == std::string_view::npos || (sep != std::string_view::npos && dot < sep))
    return std::string(path);
  return std::string(path.substr(0, dot));
}

namespace {

// Index of the last segment of the given kind, or -1.
ptrdiff_t LastSegmentOfKind(const TMapFile& map, bool isCode) {
  for (size_t i = map.segments.Count(); i-- > 0;) {
    if ((map.segments[i].isCode != 0) == isCode) return static_cast<ptrdiff_t>(i);
  }
  return -1;
}

uint64_t SegmentEnd(const TMfSegment& s) { return uint64_t(s.begin) + s.length; }

bool SegmentLess(const TMfSegment& a, const TMfSegment& b) {
  if (a.isCode != b.isCode) return a.isCode < b.isCode;  // data before code
  if (a.begin != b.begin) return a.begin < b.begin;
  return a.length < b.length;
}

}  // namespace

void AddSegment(TMapFile& map, bool isCode, uint32_t begin, uint32_t length, std::string_view name,
                bool hasLines) {
  ptrdiff_t prevIndex = LastSegmentOfKind(map, isCode);
  if (prevIndex >= 0) {
    TMfSegment& prev = map.segments[static_cast<size_t>(prevIndex)];
    if (prev.name == name && begin >= prev.begin && uint64_t(begin) <= SegmentEnd(prev) + 2) {
      uint64_t end = std::max(SegmentEnd(prev), uint64_t(begin) + length);
      prev.length = static_cast<uint32_t>(std::min<uint64_t>(end - prev.begin, UINT32_MAX));
      prev.hasLines |= hasLines ? 1 : 0;
      return;
    }
  }
  TMfSegment seg;
  seg.isCode = isCode ? 1 : 0;
  seg.begin = begin;
  seg.length = length;
  seg.name = std::string(name);
  seg.hasLines = hasLines ? 1 : 0;
  map.segments.Add(std::move(seg));
}

void InsertSegment(TMapFile& map, bool isCode, uint32_t begin, uint32_t length,
                   std::string_view name) {
  TMfSegment seg;
  seg.isCode = isCode ? 1 : 0;
  seg.begin = begin;
  seg.length = length;
  seg.name = std::string(name);
  auto& items = map.segments.Items();
  size_t at = static_cast<size_t>(std::upper_bound(items.begin(), items.end(), seg, SegmentLess) -
                                  items.begin());
  map.segments.Insert(at, std::move(seg));
}

std::string PublicDisplayName(std::string_view name, std::string_view segmentUnit, bool* skipped) {
  if (skipped) *skipped = false;
  // Compiler-generated helper records ("@$xp$...") carry no routine of their own.
  if (name.size() >= 6 && name.substr(0, 3) == "@$x" && name[4] == '$') {
    if (skipped) *skipped = true;
    return {};
  }
  std::string unit;
  std::string routine(name);
  if (name.size() > 1 && name[0] == '@') {
    std::string_view body = name.substr(1);
    size_t dollar = body.find('$');
    if (dollar != std::string_view::npos && dollar > 0) body = body.substr(0, dollar);
    size_t at = body.find('@');
    if (at != std::string_view::npos) {
      unit = std::string(body.substr(0, at));
      routine.clear();
      for (char c : body.substr(at + 1)) routine += c == '@' ? '.' : c;
    } else {
      routine = std::string(body);
    }
  }
  if (!segmentUnit.empty() && SameText(routine, segmentUnit)) return "initialization";
  if (!unit.empty() && !SameText(unit, segmentUnit)) return unit + "." + routine;
  return routine;
}

bool AddPublic(TMapFile& map, bool isCode, std::string_view name, uint32_t address,
               std::string_view segmentUnit) {
  bool skipped = false;
  std::string display = PublicDisplayName(name, segmentUnit, &skipped);
  if (skipped) return false;
  TMfPublic pub;
  pub.isCode = isCode ? 1 : 0;
  pub.name = std::move(display);
  pub.address = address;
  map.publics.Add(std::move(pub));
  return true;
}

void AddPublicGrowingSegment(TMapFile& map, bool isCode, std::string_view unit,
                             std::string_view name, uint32_t address) {
  ptrdiff_t prevIndex = LastSegmentOfKind(map, isCode);
  if (prevIndex >= 0) {
    TMfSegment& prev = map.segments[static_cast<size_t>(prevIndex)];
    if (address >= prev.begin) {
      if (SameText(prev.name, unit)) {
        if (uint64_t(address) + 1 > SegmentEnd(prev)) prev.length = address + 1 - prev.begin;
        AddPublic(map, isCode, name, address, unit);
        return;
      }
      // The previous unit ends where the next one starts.
      if (address > prev.begin) prev.length = address - prev.begin;
    }
  }
  TMfSegment seg;
  seg.isCode = isCode ? 1 : 0;
  seg.begin = address;
  seg.length = 1;
  seg.name = std::string(unit);
  map.segments.Add(std::move(seg));
  AddPublic(map, isCode, name, address, unit);
}

void AddLine(TMapFile& map, uint32_t line, uint32_t address) {
  map.lines.Add(TMfLine{line, address});
}

void SortSegments(TMapFile& map) {
  auto& items = map.segments.Items();
  std::stable_sort(items.begin(), items.end(), SegmentLess);
}

void MergeSegments(TMapFile& map) {
  SortSegments(map);
  auto& items = map.segments.Items();
  std::vector<TMfSegment> kept;
  kept.reserve(items.size());
  for (auto& seg : items) {
    if (seg.length == 0) continue;
    if (!kept.empty() && kept.back().isCode == seg.isCode && kept.back().begin == seg.begin)
      continue;
    kept.push_back(std::move(seg));
  }
  // Cut each segment back where the next of its kind starts, then join equal neighbours.
  for (size_t i = 0; i + 1 < kept.size(); ++i) {
    if (kept[i].isCode == kept[i + 1].isCode && SegmentEnd(kept[i]) > kept[i + 1].begin)
      kept[i].length = kept[i + 1].begin - kept[i].begin;
  }
  std::vector<TMfSegment> joined;
  joined.reserve(kept.size());
  for (auto& seg : kept) {
    if (!joined.empty() && joined.back().isCode == seg.isCode &&
        SameText(joined.back().name, seg.name)) {
      TMfSegment& prev = joined.back();
      uint64_t end = std::max(SegmentEnd(prev), SegmentEnd(seg));
      prev.length = static_cast<uint32_t>(std::min<uint64_t>(end - prev.begin, UINT32_MAX));
      prev.hasLines |= seg.hasLines;
      continue;
    }
    joined.push_back(std::move(seg));
  }
  items = std::move(joined);
}

void SortPublics(TMapFile& map) {
  auto& items = map.publics.Items();
  std::stable_sort(items.begin(), items.end(),
                   [](const TMfPublic& a, const TMfPublic& b) { return a.address < b.address; });
}

void SortLines(TMapFile& map) {
  auto& items = map.lines.Items();
  std::stable_sort(items.begin(), items.end(),
                   [](const TMfLine& a, const TMfLine& b) { return a.address < b.address; });
}

const TMfSegment* SegmentAt(const TMapFile& map, bool isCode, uint32_t address) {
  const auto& items = map.segments.Items();
  // Segments are ordered data first, then code, each by begin.
  auto kindBegin = std::partition_point(items.begin(), items.end(), [&](const TMfSegment& s) {
    return (s.isCode != 0) < isCode;
  });
  auto kindEnd = std::partition_point(kindBegin, items.end(), [&](const TMfSegment& s) {
    return (s.isCode != 0) == isCode;
  });
  auto after = std::upper_bound(kindBegin, kindEnd, address,
                                [](uint32_t a, const TMfSegment& s) { return a < s.begin; });
  if (after == kindBegin) return nullptr;
  const TMfSegment& seg = *(after - 1);
  if (uint64_t(address) < SegmentEnd(seg)) return &seg;
  return nullptr;
}

const TMfPublic* PublicAt(const TMapFile& map, uint32_t address) {
  const auto& items = map.publics.Items();
  auto after = std::upper_bound(items.begin(), items.end(), address,
                                [](uint32_t a, const TMfPublic& p) { return a < p.address; });
  if (after == items.begin()) return nullptr;
  if (after == items.end() && map.topOfCode != 0 && address >= map.topOfCode) return nullptr;
  return &*(after - 1);
}

namespace {

uint32_t FindPublicInUnit(const TMapFile& map, bool isCode, std::string_view unitName,
                          bool caseSensitive, std::string_view publicName) {
  const auto& pubs = map.publics.Items();
  for (const auto& seg : map.segments.Items()) {
    if ((seg.isCode != 0) != isCode || !SameText(seg.name, unitName)) continue;
    auto it = std::lower_bound(pubs.begin(), pubs.end(), seg.begin,
                               [](const TMfPublic& p, uint32_t a) { return p.address < a; });
    for (; it != pubs.end() && uint64_t(it->address) < SegmentEnd(seg); ++it) {
      if ((it->isCode != 0) != isCode) continue;
      if (caseSensitive ? it->name == publicName : SameText(it->name, publicName))
        return it->address;
    }
  }
  return 0;
}

}  // namespace

uint32_t PublicByName(const TMapFile& map, bool isCode, std::string_view unitName,
                      bool caseSensitive, std::string_view publicName) {
  uint32_t found = FindPublicInUnit(map, isCode, unitName, caseSensitive, publicName);
  if (found != 0 || unitName.find('.') != std::string_view::npos) return found;
  for (const char* ext : {".cpp", ".h", ".c"}) {
    found = FindPublicInUnit(map, isCode, std::string(unitName) + ext, caseSensitive, publicName);
    if (found != 0) return found;
  }
  return 0;
}

int LineAt(const TMapFile& map, uint32_t address, uint32_t& nextLineAddress) {
  nextLineAddress = address + 1;
  const auto& items = map.lines.Items();
  if (items.empty()) {
    const TMfSegment* seg = SegmentAt(map, true, address);
    return seg && seg->hasLines ? -1 : 0;
  }
  auto after = std::upper_bound(items.begin(), items.end(), address,
                                [](uint32_t a, const TMfLine& l) { return a < l.address; });
  if (after == items.begin()) return 0;
  if (after == items.end() && map.topOfCode != 0 && address >= map.topOfCode) return 0;
  const TMfLine& item = *(after - 1);
  const TMfSegment* seg = SegmentAt(map, true, address);
  if (!seg || item.address < seg->begin || uint64_t(item.address) > SegmentEnd(*seg)) return 0;
  if (after != items.end()) nextLineAddress = after->address;
  return static_cast<int>(item.line);
}

void LineHookInMap(const TMapFile& map, uint32_t address, uint32_t& line, uint32_t& rangeBegin,
                   uint32_t& rangeEnd) {
  if (line != 0 && address >= rangeBegin && address < rangeEnd) return;
  uint32_t next = address + 1;
  int found = LineAt(map, address, next);
  line = found < 0 ? 0 : static_cast<uint32_t>(found);
  rangeBegin = address;
  rangeEnd = next;
}

bool LookupInMap(const TMapFile& map, uint32_t address, TMfLookup& result) {
  result = TMfLookup{};
  if (!map.isValid) return false;
  const TMfSegment* seg = SegmentAt(map, true, address);
  const TMfPublic* pub = PublicAt(map, address);
  if (!seg && !pub) return false;
  result.moduleFileName = map.moduleFileName;
  if (seg) result.unitName = seg->name;
  if (pub) {
    result.publicName = pub->name;
    result.publicAddress = pub->address;
  }
  uint32_t next = 0;
  result.line = LineAt(map, address, next);
  return true;
}

std::string ProcNameInMap(const TMapFile& map, uint32_t address) {
  if (!map.isValid) return {};
  const TMfPublic* pub = PublicAt(map, address);
  if (!pub || pub->address != address) return {};
  const TMfSegment* seg = SegmentAt(map, pub->isCode != 0, address);
  std::string name = seg && !seg->name.empty() ? seg->name + "." + pub->name : pub->name;
  if (name.find('%') != std::string::npos)
    name += " (" + FileNameOnly(map.moduleFileName) + ")";
  return name;
}

}  // namespace qx
