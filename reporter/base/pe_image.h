// A view of a 32-bit PE image (PE32, the format of every module in the server's process),
// read through a MemoryReader: either as the loader mapped it (an address is base + RVA) or
// as its file (an address is base + file offset; RVAs go through the section table). Every
// read is bounds-checked; malformed headers, tables or names give false or an empty result,
// never a fault. It has its own fixed-layout constants, so it builds on any platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "memory_reader.h"

namespace qx {

namespace pe {
constexpr uint16_t kDosMagic = 0x5A4D;        // "MZ"
constexpr uint32_t kNtSignature = 0x4550;     // "PE\0\0"
constexpr uint16_t kOptionalMagic32 = 0x10B;  // PE32
constexpr uint16_t kMachineI386 = 0x14C;
constexpr uint16_t kSubsystemWindowsGui = 2;
constexpr uint16_t kSubsystemWindowsCui = 3;
constexpr uint32_t kSectionCode = 0x20;
constexpr uint32_t kSectionHeaderSize = 40;
constexpr uint32_t kDirectorySlots = 16;
constexpr uint32_t kExportDirectory = 0;
constexpr uint32_t kImportDirectory = 1;
constexpr uint32_t kResourceDirectory = 2;
constexpr uint32_t kDebugDirectory = 6;
constexpr uint32_t kResourceRcData = 10;
// Limits of what a sane image holds; larger counts are treated as malformed.
constexpr uint32_t kMaxHeaderOffset = 0x10000000;
constexpr uint32_t kMaxExportCount = 0x10000;
constexpr uint32_t kMaxNameLength = 1024;
}  // namespace pe

enum class PeLayout { kLoaded, kFile };

// The fields of the file and optional headers the reporter looks at.
struct PeHeaders {
  uint32_t ntHeadersOffset = 0;  // e_lfanew
  uint16_t machine = 0;
  uint16_t sectionCount = 0;
  uint32_t timeDateStamp = 0;
  uint16_t optionalHeaderSize = 0;
  uint16_t characteristics = 0;
  uint16_t magic = 0;
  uint8_t majorLinkerVersion = 0;
  uint8_t minorLinkerVersion = 0;
  uint32_t sizeOfCode = 0;
  uint32_t sizeOfInitializedData = 0;
  uint32_t sizeOfUninitializedData = 0;
  uint32_t entryPoint = 0;
  uint32_t baseOfCode = 0;
  uint32_t baseOfData = 0;
  uint32_t imageBase = 0;
  uint32_t sizeOfImage = 0;
  uint32_t sizeOfHeaders = 0;
  uint32_t checksum = 0;
  uint16_t subsystem = 0;
  uint32_t directoryCount = 0;  // NumberOfRvaAndSizes as written
};

struct PeDirectory {
  uint32_t rva = 0;
  uint32_t size = 0;
};

struct PeSection {
  char name[9] = {};  // the eight name bytes, zero-terminated
  uint32_t virtualSize = 0;
  uint32_t virtualAddress = 0;
  uint32_t rawSize = 0;
  uint32_t rawPointer = 0;
  uint32_t characteristics = 0;
  // The virtual size, or the raw size when the linker left the virtual size 0.
  uint32_t MappedSize() const { return virtualSize != 0 ? virtualSize : rawSize; }
  bool IsCode() const { return (characteristics & pe::kSectionCode) != 0; }
};

struct PeExports {
  uint32_t rva = 0, size = 0;  // the directory's range: a function RVA inside it is a forwarder
  uint32_t timeDateStamp = 0;
  uint32_t moduleNameRva = 0;
  uint32_t ordinalBase = 0;
  uint32_t functionCount = 0;
  uint32_t nameCount = 0;
  uint32_t functionsRva = 0;
  uint32_t namesRva = 0;
  uint32_t ordinalsRva = 0;
  bool operator==(const PeExports&) const = default;
};

struct PeResource {
  uint32_t dataRva = 0;
  uint32_t size = 0;
  uint32_t codePage = 0;
};

class PeImage {
 public:
  // base is where offset 0 of the image is read: the module handle of a loaded image, or 0
  // for a file read through a SpanReader.
  PeImage(MemoryReader& reader, uint32_t base, PeLayout layout)
      : reader_(reader), base_(base), layout_(layout) {}

  // Reads and checks the DOS and NT headers. False for anything but a PE32 image whose
  // headers can be read completely.
  bool Open();
  bool IsOpen() const { return open_; }
  const PeHeaders& Headers() const { return headers_; }
  PeLayout Layout() const { return layout_; }

  uint16_t Machine() const { return headers_.machine; }
  uint16_t SectionCount() const { return headers_.sectionCount; }
  uint32_t TimeDateStamp() const { return headers_.timeDateStamp; }
  uint16_t Characteristics() const { return headers_.characteristics; }
  uint32_t ImageBase() const { return headers_.imageBase; }
  uint32_t SizeOfImage() const { return headers_.sizeOfImage; }
  uint32_t SizeOfHeaders() const { return headers_.sizeOfHeaders; }
  uint32_t EntryPoint() const { return headers_.entryPoint; }
  uint16_t Subsystem() const { return headers_.subsystem; }
  uint32_t Checksum() const { return headers_.checksum; }
  // Offset of the checksum field from the start of the image (the same in file and memory).
  uint32_t ChecksumFieldOffset() const;

  // A data directory; false when the header has no such slot or it is empty.
  bool Directory(uint32_t index, PeDirectory& directory) const;

  // The section header at index; false past the table or when it cannot be read.
  bool Section(uint32_t index, PeSection& section) const;
  // The first section whose raw data holds rva, and the file offset of that byte.
  bool RvaToFileOffset(uint32_t rva, uint32_t& offset) const;

  // Reads count bytes at rva: inside the image's size, and in a file image inside the raw data
  // of one section (or the headers).
  bool ReadRva(uint32_t rva, void* destination, uint32_t count) const;
  template <class T>
  bool ReadRvaValue(uint32_t rva, T& value) const {
    return ReadRva(rva, &value, sizeof value);
  }
  // A zero-terminated string at rva of at most limit bytes; false when unterminated within
  // the limit or unreadable.
  bool ReadString(uint32_t rva, std::string& text, uint32_t limit = pe::kMaxNameLength) const;

  // The export directory; false when there is none or its counts or tables lie outside.
  bool Exports(PeExports& exports) const;
  bool ExportFunction(const PeExports& exports, uint32_t index, uint32_t& rva) const;
  // The name at nameIndex of the name table and the function index it names.
  bool ExportName(const PeExports& exports, uint32_t nameIndex, std::string& name,
                  uint32_t& functionIndex) const;
  bool IsForwarder(const PeExports& exports, uint32_t functionRva) const {
    return functionRva >= exports.rva && functionRva - exports.rva < exports.size;
  }
  // "Module.Name" of a forwarded function; false when the function is not forwarded.
  bool ExportForwarder(const PeExports& exports, uint32_t index, std::string& target) const;
  // RVA of the function exported under name (a forwarder's RVA points at its text).
  bool FindExport(std::string_view name, uint32_t& rva) const;
  // The first name under which rva is exported, else "#" and its ordinal; false when rva is
  // not exported.
  bool ExportNameOf(uint32_t rva, std::string& name) const;

  // The data of a resource. type and name are a name (compared as Windows compares resource
  // names, ignoring ASCII case) or "#" and a decimal id; language is an id, or -1 for the
  // first language the resource has.
  bool FindResource(std::string_view type, std::string_view name, PeResource& resource,
                    int32_t language = -1) const;

 private:
  bool ReadAt(uint64_t offset, void* destination, uint32_t count) const;
  bool ResourceEntry(const PeDirectory& root, uint32_t tableOffset, std::string_view key,
                     int32_t id, uint32_t& target) const;
  bool ResourceNameMatches(const PeDirectory& root, uint32_t nameOffset,
                           std::string_view key) const;

  MemoryReader& reader_;
  uint32_t base_;
  PeLayout layout_;
  bool open_ = false;
  PeHeaders headers_;
  uint32_t sectionTable_ = 0;  // offset from the image start
};

}  // namespace qx
