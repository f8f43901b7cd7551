#include "pe_image.h"

#include <cstdlib>
#include <cstring>

namespace qx {

namespace {

// Offsets inside the headers, from the start of the NT headers.
constexpr uint32_t kFileHeader = 4;
constexpr uint32_t kOptionalHeader = 24;
constexpr uint32_t kOptionalFixedSize = 96;  // up to NumberOfRvaAndSizes included
constexpr uint32_t kChecksumField = kOptionalHeader + 64;
constexpr uint32_t kExportDirectorySize = 40;
constexpr uint32_t kResourceTableSize = 16;
constexpr uint32_t kResourceEntrySize = 8;
constexpr uint32_t kResourceHighBit = 0x80000000u;

template <class T>
T Field(const uint8_t* bytes, uint32_t offset) {
  T value;
  std::memcpy(&value, bytes + offset, sizeof value);
  return value;
}

// [at, at + count) inside [0, limit).
bool Inside(uint64_t at, uint64_t count, uint64_t limit) {
  return at <= limit && count <= limit - at;
}

char UpperAscii(uint32_t c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
}

}  // namespace

bool SpanReader::Read(uint32_t address, void* destination, uint32_t count) {
  if (address < base_) return false;
  const uint64_t at = address - base_;
  if (!Inside(at, count, bytes_.size())) return false;
  if (count != 0) std::memcpy(destination, bytes_.data() + at, count);
  return true;
}

bool PeImage::ReadAt(uint64_t offset, void* destination, uint32_t count) const {
  const uint64_t address = uint64_t(base_) + offset;
  if (!Inside(address, count, 0x100000000ull)) return false;
  return reader_.Read(static_cast<uint32_t>(address), destination, count);
}

bool PeImage::Open() {
  open_ = false;
  headers_ = PeHeaders{};
  uint16_t dosMagic = 0;
  uint32_t ntAt = 0;
  if (!ReadAt(0, &dosMagic, 2) || dosMagic != pe::kDosMagic || !ReadAt(0x3C, &ntAt, 4) ||
      ntAt == 0 || ntAt >= pe::kMaxHeaderOffset) {
    return false;
  }
  uint8_t nt[kOptionalHeader + kOptionalFixedSize];
  if (!ReadAt(ntAt, nt, sizeof nt) || Field<uint32_t>(nt, 0) != pe::kNtSignature) return false;
  PeHeaders h;
  h.ntHeadersOffset = ntAt;
  h.machine = Field<uint16_t>(nt, kFileHeader + 0);
  h.sectionCount = Field<uint16_t>(nt, kFileHeader + 2);
  h.timeDateStamp = Field<uint32_t>(nt, kFileHeader + 4);
  h.optionalHeaderSize = Field<uint16_t>(nt, kFileHeader + 16);
  h.characteristics = Field<uint16_t>(nt, kFileHeader + 18);
  const uint8_t* opt = nt + kOptionalHeader;
  h.magic = Field<uint16_t>(opt, 0);
  if (h.magic != pe::kOptionalMagic32) return false;
  h.majorLinkerVersion = opt[2];
  h.minorLinkerVersion = opt[3];
  h.sizeOfCode = Field<uint32_t>(opt, 4);
  h.sizeOfInitializedData = Field<uint32_t>(opt, 8);
  h.sizeOfUninitializedData = Field<uint32_t>(opt, 12);
  h.entryPoint = Field<uint32_t>(opt, 16);
  h.baseOfCode = Field<uint32_t>(opt, 20);
  h.baseOfData = Field<uint32_t>(opt, 24);
  h.imageBase = Field<uint32_t>(opt, 28);
  h.sizeOfImage = Field<uint32_t>(opt, 56);
  h.sizeOfHeaders = Field<uint32_t>(opt, 60);
  h.checksum = Field<uint32_t>(opt, 64);
  h.subsystem = Field<uint16_t>(opt, 68);
  h.directoryCount = Field<uint32_t>(opt, 92);
  headers_ = h;
  sectionTable_ = ntAt + kOptionalHeader + h.optionalHeaderSize;
  open_ = true;
  return true;
}

uint32_t PeImage::ChecksumFieldOffset() const {
  return open_ ? headers_.ntHeadersOffset + kChecksumField : 0;
}

bool PeImage::Directory(uint32_t index, PeDirectory& directory) const {
  directory = PeDirectory{};
  if (!open_ || index >= headers_.directoryCount || index >= pe::kDirectorySlots ||
      kOptionalFixedSize + 8 * (index + 1) > headers_.optionalHeaderSize) {
    return false;
  }
  uint32_t slot[2];
  if (!ReadAt(uint64_t(headers_.ntHeadersOffset) + kOptionalHeader + kOptionalFixedSize +
                  8 * index,
              slot, sizeof slot)) {
    return false;
  }
  directory.rva = slot[0];
  directory.size = slot[1];
  return directory.rva != 0;
}

bool PeImage::Section(uint32_t index, PeSection& section) const {
  section = PeSection{};
  uint8_t raw[pe::kSectionHeaderSize];
  if (!open_ || index >= headers_.sectionCount ||
      !ReadAt(uint64_t(sectionTable_) + uint64_t(pe::kSectionHeaderSize) * index, raw,
              sizeof raw)) {
    return false;
  }
  std::memcpy(section.name, raw, 8);
  section.virtualSize = Field<uint32_t>(raw, 8);
  section.virtualAddress = Field<uint32_t>(raw, 12);
  section.rawSize = Field<uint32_t>(raw, 16);
  section.rawPointer = Field<uint32_t>(raw, 20);
  section.characteristics = Field<uint32_t>(raw, 36);
  return true;
}

bool PeImage::RvaToFileOffset(uint32_t rva, uint32_t& offset) const {
  if (!open_) return false;
  if (rva < headers_.sizeOfHeaders) {
    offset = rva;
    return true;
  }
  PeSection section;
  for (uint32_t i = 0; Section(i, section); ++i) {
    if (rva >= section.virtualAddress && rva - section.virtualAddress < section.rawSize) {
      offset = section.rawPointer + (rva - section.virtualAddress);
      return true;
    }
  }
  return false;
}

bool PeImage::ReadRva(uint32_t rva, void* destination, uint32_t count) const {
  if (!open_ || !Inside(rva, count, headers_.sizeOfImage)) return false;
  if (layout_ == PeLayout::kLoaded) return ReadAt(rva, destination, count);
  if (Inside(rva, count, headers_.sizeOfHeaders)) return ReadAt(rva, destination, count);
  PeSection section;
  for (uint32_t i = 0; Section(i, section); ++i) {
    if (rva < section.virtualAddress) continue;
    const uint32_t into = rva - section.virtualAddress;
    if (Inside(into, count, section.rawSize) && into < section.rawSize) {
      return ReadAt(uint64_t(section.rawPointer) + into, destination, count);
    }
  }
  return false;
}

bool PeImage::ReadString(uint32_t rva, std::string& text, uint32_t limit) const {
  text.clear();
  char chunk[64];
  while (text.size() < limit) {
    uint32_t count = sizeof chunk;
    // Near the end of a section or region fall back to single bytes.
    if (!ReadRva(rva, chunk, count)) {
      count = 1;
      if (!ReadRva(rva, chunk, 1)) return false;
    }
    const void* end = std::memchr(chunk, 0, count);
    if (end) {
      text.append(chunk, static_cast<const char*>(end) - chunk);
      return text.size() <= limit;
    }
    text.append(chunk, count);
    rva += count;
  }
  return false;
}

bool PeImage::Exports(PeExports& exports) const {
  exports = PeExports{};
  PeDirectory directory;
  uint8_t raw[kExportDirectorySize];
  if (!Directory(pe::kExportDirectory, directory) ||
      !ReadRva(directory.rva, raw, sizeof raw)) {
    return false;
  }
  PeExports e;
  e.rva = directory.rva;
  e.size = directory.size;
  e.timeDateStamp = Field<uint32_t>(raw, 4);
  e.moduleNameRva = Field<uint32_t>(raw, 12);
  e.ordinalBase = Field<uint32_t>(raw, 16);
  e.functionCount = Field<uint32_t>(raw, 20);
  e.nameCount = Field<uint32_t>(raw, 24);
  e.functionsRva = Field<uint32_t>(raw, 28);
  e.namesRva = Field<uint32_t>(raw, 32);
  e.ordinalsRva = Field<uint32_t>(raw, 36);
  const uint32_t size = headers_.sizeOfImage;
  if (e.functionCount > pe::kMaxExportCount || e.nameCount > pe::kMaxExportCount ||
      !Inside(e.functionsRva, 4ull * e.functionCount, size) ||
      !Inside(e.namesRva, 4ull * e.nameCount, size) ||
      !Inside(e.ordinalsRva, 2ull * e.nameCount, size)) {
    return false;
  }
  exports = e;
  return true;
}

bool PeImage::ExportFunction(const PeExports& exports, uint32_t index, uint32_t& rva) const {
  rva = 0;
  return index < exports.functionCount && ReadRvaValue(exports.functionsRva + 4 * index, rva);
}

bool PeImage::ExportName(const PeExports& exports, uint32_t nameIndex, std::string& name,
                         uint32_t& functionIndex) const {
  name.clear();
  uint32_t nameRva = 0;
  uint16_t ordinal = 0;
  if (nameIndex >= exports.nameCount ||
      !ReadRvaValue(exports.namesRva + 4 * nameIndex, nameRva) ||
      !ReadRvaValue(exports.ordinalsRva + 2 * nameIndex, ordinal)) {
    return false;
  }
  functionIndex = ordinal;
  return ReadString(nameRva, name);
}

bool PeImage::ExportForwarder(const PeExports& exports, uint32_t index,
                              std::string& target) const {
  target.clear();
  uint32_t rva = 0;
  return ExportFunction(exports, index, rva) && IsForwarder(exports, rva) &&
         ReadString(rva, target);
}

bool PeImage::FindExport(std::string_view name, uint32_t& rva) const {
  rva = 0;
  PeExports exports;
  if (!Exports(exports)) return false;
  std::string candidate;
  uint32_t index = 0;
  for (uint32_t i = 0; i < exports.nameCount; ++i) {
    if (ExportName(exports, i, candidate, index) && candidate == name) {
      return ExportFunction(exports, index, rva);
    }
  }
  return false;
}

bool PeImage::ExportNameOf(uint32_t rva, std::string& name) const {
  name.clear();
  PeExports exports;
  if (!Exports(exports)) return false;
  uint32_t index = 0, candidate = 0;
  while (index < exports.functionCount &&
         !(ExportFunction(exports, index, candidate) && candidate == rva)) {
    ++index;
  }
  if (index >= exports.functionCount) return false;
  uint32_t named = 0;
  for (uint32_t i = 0; i < exports.nameCount; ++i) {
    if (ExportName(exports, i, name, named) && named == index && !name.empty()) return true;
  }
  std::string ordinal(1, '#');
  ordinal += std::to_string(exports.ordinalBase + index);
  name = std::move(ordinal);
  return true;
}

// Resource names are counted UTF-16 strings; Windows compares them with the key upper-cased.
bool PeImage::ResourceNameMatches(const PeDirectory& root, uint32_t nameOffset,
                                  std::string_view key) const {
  uint16_t length = 0;
  if (!Inside(nameOffset, 2, root.size) || !ReadRvaValue(root.rva + nameOffset, length) ||
      length != key.size() || !Inside(nameOffset + 2ull, 2ull * length, root.size)) {
    return false;
  }
  for (uint32_t c = 0; c < length; ++c) {
    uint16_t ch = 0;
    if (!ReadRvaValue(root.rva + nameOffset + 2 + 2 * c, ch)) return false;
    if (UpperAscii(ch < 128 ? ch : 0) != UpperAscii(static_cast<unsigned char>(key[c]))) {
      return false;
    }
  }
  return true;
}

// The offset word of the entry of the table at tableOffset that matches key ("#id" or a
// name), or with key empty the entry with id (any entry when id is -1).
bool PeImage::ResourceEntry(const PeDirectory& root, uint32_t tableOffset, std::string_view key,
                            int32_t id, uint32_t& target) const {
  uint16_t counts[2] = {};
  if (!Inside(tableOffset, kResourceTableSize, root.size) ||
      !ReadRva(root.rva + tableOffset + 12, counts, sizeof counts)) {
    return false;
  }
  const uint32_t entries = uint32_t(counts[0]) + counts[1];
  if (!Inside(uint64_t(tableOffset) + kResourceTableSize, uint64_t(kResourceEntrySize) * entries,
              root.size)) {
    return false;
  }
  const bool byId = key.empty() || key[0] == '#';
  if (!key.empty() && byId) {
    id = static_cast<int32_t>(std::strtoul(std::string(key.substr(1)).c_str(), nullptr, 10));
  }
  for (uint32_t i = 0; i < entries; ++i) {
    uint32_t entry[2];
    if (!ReadRva(root.rva + tableOffset + kResourceTableSize + kResourceEntrySize * i, entry,
                 sizeof entry)) {
      return false;
    }
    const bool named = (entry[0] & kResourceHighBit) != 0;
    bool match;
    if (byId) {
      match = id < 0 || (!named && entry[0] == static_cast<uint32_t>(id));
    } else {
      match = named && ResourceNameMatches(root, entry[0] & ~kResourceHighBit, key);
    }
    if (match) {
      target = entry[1];
      return true;
    }
  }
  return false;
}

bool PeImage::FindResource(std::string_view type, std::string_view name, PeResource& resource,
                           int32_t language) const {
  resource = PeResource{};
  PeDirectory root;
  if (!Directory(pe::kResourceDirectory, root) || !Inside(root.rva, root.size, headers_.sizeOfImage) ||
      type.empty() || name.empty()) {
    return false;
  }
  uint32_t typeWord = 0, nameWord = 0, languageWord = 0;
  if (!ResourceEntry(root, 0, type, -1, typeWord) || !(typeWord & kResourceHighBit) ||
      !ResourceEntry(root, typeWord & ~kResourceHighBit, name, -1, nameWord) ||
      !(nameWord & kResourceHighBit) ||
      !ResourceEntry(root, nameWord & ~kResourceHighBit, {}, language, languageWord) ||
      (languageWord & kResourceHighBit)) {
    return false;
  }
  uint32_t data[3];
  if (!Inside(languageWord, sizeof data, root.size) ||
      !ReadRva(root.rva + languageWord, data, sizeof data)) {
    return false;
  }
  resource.dataRva = data[0];
  resource.size = data[1];
  resource.codePage = data[2];
  return true;
}

}  // namespace qx
