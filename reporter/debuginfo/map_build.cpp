// Builds a module's map from the first debug-information source that it has.
#include <algorithm>

#include "map_sources.h"
#include "map_stream.h"

namespace qx {

namespace {

constexpr uint32_t kScnCode = 0x20;
constexpr uint32_t kDebugDirectoryIndex = 6;
constexpr uint32_t kDebugEntrySize = 28;

bool IsTd32(std::string_view data) {
  return data.size() >= 8 && (data.substr(0, 4) == "FB09" || data.substr(0, 4) == "FB0A");
}

// File offset of an RVA, through the section table.
bool RvaToFileOffset(const TImageFacts& facts, uint32_t rva, uint32_t& offset) {
  for (size_t i = 0; i < facts.sectionRvas.size(); ++i) {
    if (rva >= facts.sectionRvas[i] && rva - facts.sectionRvas[i] < facts.sectionRawSizes[i]) {
      offset = facts.sectionRawOffsets[i] + (rva - facts.sectionRvas[i]);
      return true;
    }
  }
  return false;
}

bool EndsWithText(std::string_view text, std::string_view tail) {
  return text.size() >= tail.size() && SameText(text.substr(text.size() - tail.size()), tail);
}

// A copy of the map's module facts with no items, for one attempt at one source.
TMapFile FreshAttempt(const TMapFile& map) {
  TMapFile attempt;
  attempt.moduleFileName = map.moduleFileName;
  attempt.moduleHandle = map.moduleHandle;
  attempt.baseOfCode = map.baseOfCode;
  attempt.topOfCode = map.topOfCode;
  attempt.baseOfData = map.baseOfData;
  attempt.topOfData = map.topOfData;
  attempt.sectionBases = map.sectionBases;
  return attempt;
}

bool TryResource(TMapFile& map, IMapEnvironment& env) {
  std::string data;
  if (!env.ReadResource(false, "QEL", "EXCEPT", data)) return false;
  TMapFile attempt = FreshAttempt(map);
  if (!ImportQel(attempt, data, env, true)) return false;
  map = std::move(attempt);
  return true;
}

bool TryTd32Data(TMapFile& map, std::string_view data) {
  if (!IsTd32(data)) return false;
  TMapFile attempt = FreshAttempt(map);
  if (!ParseTd32(attempt, data)) return false;
  map = std::move(attempt);
  return true;
}

bool TryTd32(TMapFile& map, std::string_view image, const TImageFacts& facts,
             IMapEnvironment& env) {
  if (facts.valid && map.moduleHandle != 0 && facts.codeInOneSection && facts.debugDirRva != 0) {
    if (TryTd32Data(map, Td32InImage(image, facts, false))) return true;
    std::string file;  // debug data that the loader did not map is still in the file
    if (env.ReadWholeFile(map.moduleFileName, file)) {
      TImageFacts fileFacts = ReadImageFacts(file);
      if (fileFacts.valid && TryTd32Data(map, Td32InImage(file, fileFacts, true))) return true;
    }
  }
  const std::string& name = map.moduleFileName;
  std::string tds = EndsWithText(name, ".tds") ? name : StripExtension(name) + ".tds";
  int64_t tdsDay = 0, mapDay = 0;
  if (env.FileLastWriteDay(tds, tdsDay) &&
      env.FileLastWriteDay(StripExtension(tds) + ".map", mapDay) && tdsDay < mapDay)
    return false;
  std::string data;
  if (!env.ReadWholeFile(tds, data)) return false;
  if (data.size() >= 2 && data[0] == 'M' && data[1] == 'Z') {
    TImageFacts fileFacts = ReadImageFacts(data);
    return fileFacts.valid && TryTd32Data(map, Td32InImage(data, fileFacts, true));
  }
  return TryTd32Data(map, data);
}

bool TrySideFiles(TMapFile& map, IMapEnvironment& env) {
  const std::string stem = StripExtension(map.moduleFileName);
  std::string data;
  if (env.ReadWholeFile(stem + ".map", data)) {
    TMapFile attempt = FreshAttempt(map);
    if (ParseTextMap(attempt, data)) {
      map = std::move(attempt);
      return true;
    }
  }
  if (env.ReadWholeFile(stem + ".qel", data)) {
    TMapFile attempt = FreshAttempt(map);
    if (ImportQel(attempt, data, env, false)) {
      map = std::move(attempt);
      return true;
    }
  }
  if (env.ReadWholeFile(stem + ".jdbg", data)) {
    TMapFile attempt = FreshAttempt(map);
    if (ParseJdbg(attempt, data)) {
      map = std::move(attempt);
      return true;
    }
  }
  return false;
}

}  // namespace

TImageFacts ReadImageFacts(std::string_view image) {
  TImageFacts facts;
  uint32_t peAt = 0, signature = 0;
  uint16_t sectionCount = 0, optionalSize = 0, magic = 0;
  if (image.size() < 0x40 || image[0] != 'M' || image[1] != 'Z' || !GetU32(image, 0x3C, peAt) ||
      !GetU32(image, peAt, signature) || signature != 0x4550 ||
      !GetU16(image, peAt + 6ull, sectionCount) || !GetU16(image, peAt + 20ull, optionalSize))
    return facts;
  const uint64_t opt = peAt + 24ull;
  uint32_t sizeOfCode = 0, sizeOfInit = 0, sizeOfUninit = 0, baseOfCode = 0, baseOfData = 0;
  uint32_t dirCount = 0;
  if (!GetU16(image, opt, magic) || magic != 0x10b || !GetU32(image, opt + 4, sizeOfCode) ||
      !GetU32(image, opt + 8, sizeOfInit) || !GetU32(image, opt + 12, sizeOfUninit) ||
      !GetU32(image, opt + 20, baseOfCode) || !GetU32(image, opt + 24, baseOfData) ||
      !GetU32(image, opt + 92, dirCount))
    return facts;
  if (dirCount > kDebugDirectoryIndex && 96u + 8u * (kDebugDirectoryIndex + 1) <= optionalSize) {
    GetU32(image, opt + 96 + 8 * kDebugDirectoryIndex, facts.debugDirRva);
    GetU32(image, opt + 100 + 8 * kDebugDirectoryIndex, facts.debugDirSize);
  }
  std::vector<uint32_t> characteristics, virtualSizes;
  const uint64_t sections = opt + optionalSize;
  for (uint32_t i = 0; i < sectionCount; ++i) {
    uint64_t at = sections + 40ull * i;
    uint32_t vsize = 0, rva = 0, rawSize = 0, rawAt = 0, flags = 0;
    if (!GetU32(image, at + 8, vsize) || !GetU32(image, at + 12, rva) ||
        !GetU32(image, at + 16, rawSize) || !GetU32(image, at + 20, rawAt) ||
        !GetU32(image, at + 36, flags))
      return facts;
    facts.sectionRvas.push_back(rva);
    facts.sectionRawOffsets.push_back(rawAt);
    facts.sectionRawSizes.push_back(rawSize);
    virtualSizes.push_back(vsize != 0 ? vsize : rawSize);
    characteristics.push_back(flags);
  }
  const bool firstIsCode = !characteristics.empty() && (characteristics[0] & kScnCode) != 0;
  const bool secondIsCode = characteristics.size() > 1 && (characteristics[1] & kScnCode) != 0;
  if (firstIsCode) {
    facts.baseOfCode = facts.sectionRvas[0];
    size_t last = secondIsCode ? 1 : 0;
    facts.topOfCode = facts.sectionRvas[last] + virtualSizes[last];
  } else {
    facts.baseOfCode = baseOfCode;
    facts.topOfCode = baseOfCode + sizeOfCode;
  }
  facts.codeInOneSection = firstIsCode && !secondIsCode;
  facts.baseOfData = baseOfData;
  facts.topOfData = baseOfData + sizeOfInit + sizeOfUninit;
  facts.valid = true;
  return facts;
}

std::string_view Td32InImage(std::string_view image, const TImageFacts& facts, bool fileLayout) {
  if (!facts.valid || facts.debugDirRva == 0) return {};
  uint32_t dirAt = facts.debugDirRva;
  if (fileLayout && !RvaToFileOffset(facts, facts.debugDirRva, dirAt)) return {};
  for (uint32_t i = 0; i < facts.debugDirSize / kDebugEntrySize && i < 64; ++i) {
    uint64_t at = uint64_t(dirAt) + kDebugEntrySize * i;
    uint32_t size = 0, rva = 0, rawAt = 0;
    if (!GetU32(image, at + 16, size) || !GetU32(image, at + 20, rva) ||
        !GetU32(image, at + 24, rawAt))
      return {};
    uint32_t from = fileLayout ? rawAt : rva;
    if (from == 0 || from > image.size()) continue;
    std::string_view data = image.substr(from, std::min<size_t>(size, image.size() - from));
    if (IsTd32(data)) return data;
  }
  return {};
}

void BuildMapFile(TMapFile& map, uint32_t moduleHandle, const std::string& moduleFileName,
                  std::string_view image, IMapEnvironment& env) {
  map = TMapFile{};
  map.moduleHandle = moduleHandle;
  map.moduleFileName = moduleFileName;
  TImageFacts facts = image.empty() ? TImageFacts{} : ReadImageFacts(image);
  if (facts.valid) {
    map.baseOfCode = moduleHandle + facts.baseOfCode;
    map.topOfCode = moduleHandle + facts.topOfCode;
    map.baseOfData = moduleHandle + facts.baseOfData;
    map.topOfData = moduleHandle + facts.topOfData;
    for (uint32_t rva : facts.sectionRvas) map.sectionBases.push_back(moduleHandle + rva);
  }
  bool loaded = false;
  if (facts.valid && moduleHandle != 0) loaded = TryResource(map, env);
  if (!loaded) loaded = TryTd32(map, image, facts, env);
  if (!loaded) loaded = TrySideFiles(map, env);
  map.isValid = loaded;
  if (loaded) SortLines(map);
}

}  // namespace qx
