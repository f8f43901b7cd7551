// Builds a module's map from the first debug-information source that it has.
#include <algorithm>

#include "map_sources.h"
#include "map_stream.h"
#include "pe_image.h"

namespace qx {

namespace {

constexpr uint32_t kDebugEntrySize = 28;

bool IsTd32(std::string_view data) {
  return data.size() >= 8 && (data.substr(0, 4) == "FB09" || data.substr(0, 4) == "FB0A");
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
  SpanReader reader(image);
  PeImage view(reader, 0, PeLayout::kFile);
  if (!view.Open()) return facts;
  const PeHeaders& headers = view.Headers();
  PeDirectory debug;
  if (view.Directory(pe::kDebugDirectory, debug)) {
    facts.debugDirRva = debug.rva;
    facts.debugDirSize = debug.size;
  }
  std::vector<uint32_t> virtualSizes;
  std::vector<bool> isCode;
  PeSection section;
  for (uint32_t i = 0; i < view.SectionCount(); ++i) {
    if (!view.Section(i, section)) return facts;
    facts.sectionRvas.push_back(section.virtualAddress);
    facts.sectionRawOffsets.push_back(section.rawPointer);
    facts.sectionRawSizes.push_back(section.rawSize);
    virtualSizes.push_back(section.MappedSize());
    isCode.push_back(section.IsCode());
  }
  const bool firstIsCode = !isCode.empty() && isCode[0];
  const bool secondIsCode = isCode.size() > 1 && isCode[1];
  if (firstIsCode) {
    facts.baseOfCode = facts.sectionRvas[0];
    size_t last = secondIsCode ? 1 : 0;
    facts.topOfCode = facts.sectionRvas[last] + virtualSizes[last];
  } else {
    facts.baseOfCode = headers.baseOfCode;
    facts.topOfCode = headers.baseOfCode + headers.sizeOfCode;
  }
  facts.codeInOneSection = firstIsCode && !secondIsCode;
  facts.baseOfData = headers.baseOfData;
  facts.topOfData =
      headers.baseOfData + headers.sizeOfInitializedData + headers.sizeOfUninitializedData;
  facts.valid = true;
  return facts;
}

std::string_view Td32InImage(std::string_view image, const TImageFacts& facts, bool fileLayout) {
  if (!facts.valid || facts.debugDirRva == 0) return {};
  SpanReader reader(image);
  PeImage view(reader, 0, fileLayout ? PeLayout::kFile : PeLayout::kLoaded);
  uint32_t dirAt = facts.debugDirRva;
  if (!view.Open() || (fileLayout && !view.RvaToFileOffset(facts.debugDirRva, dirAt))) return {};
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
