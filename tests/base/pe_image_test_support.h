// A small but complete PE32 image built byte by byte, held both as its file and as the loader
// maps it, so that each test can break one field and look at the result in both layouts.
//
//   headers  file 0x000, RVA 0x000: DOS header (e_lfanew 0x80), NT headers, three sections
//   .text    file 0x200, RVA 0x1000: ret; nop at 0x1010
//   .edata   file 0x400, RVA 0x2000: "test.dll", ordinal base 5, three functions
//            (Alpha 0x1010, ordinal 6 only 0x1020, Forwarded -> "OTHER.Func")
//   .rsrc    file 0x600, RVA 0x3000: QEL/EXCEPT/0x409 -> "hello", #10/#7/0x409 -> "abc"
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

namespace qxtest {

class TestImage {
 public:
  static constexpr uint32_t kNamePointers = 0x2070;
  static constexpr uint32_t kTypeEntryQel = 0x3010;     // root: the "QEL" entry
  static constexpr uint32_t kNameTableQel = 0x20;       // offset in the resource directory
  static constexpr uint32_t kNameEntryExcept = 0x3030;  // QEL's table: the "EXCEPT" entry
  static constexpr uint32_t kLanguageTable = 0x38;      // offset in the resource directory
  static constexpr uint32_t kLanguageEntry = 0x3048;    // EXCEPT's table: language 0x409

  TestImage() : file_(0x800, '\0'), loaded_(0x4000, '\0') {
    BuildHeaders();
    BuildExports();
    BuildResources();
    Put(0x1010, "\xC3\x90", 2);
    // The image's last bytes hold text without a terminator, for names that run off the end.
    std::memset(loaded_.data() + 0x3F00, 'A', 0x100);
  }

  const std::string& FileBytes() const { return file_; }
  const std::string& LoadedBytes() const { return loaded_; }

  // Overwrites size bytes (1, 2 or 4) of value at an offset of the headers.
  void PatchHeader(uint32_t offset, uint32_t value, uint32_t size) {
    std::memcpy(file_.data() + offset, &value, size);
    std::memcpy(loaded_.data() + offset, &value, size);
  }
  // The same at an RVA inside one of the sections.
  void Patch(uint32_t rva, uint32_t value, uint32_t size) { Put(rva, &value, size); }

  // One field overwritten, for the tables of damaged images.
  struct Damage {
    const char* what;
    bool inHeaders;  // at is an offset of the headers, else an RVA in a section
    uint32_t at;
    uint32_t value;
    uint32_t size;
  };
  void Apply(const Damage& damage) {
    if (damage.inHeaders) {
      PatchHeader(damage.at, damage.value, damage.size);
    } else {
      Patch(damage.at, damage.value, damage.size);
    }
  }

 private:
  struct Section {
    const char* name;
    uint32_t rva, virtualSize, rawPointer, flags;
  };
  static constexpr Section kSections[] = {
      {".text", 0x1000, 0x180, 0x200, 0x60000020},
      {".edata", 0x2000, 0x200, 0x400, 0x40000040},
      {".rsrc", 0x3000, 0x200, 0x600, 0x40000040},
  };

  void Put(uint32_t rva, const void* bytes, uint32_t size) {
    std::memcpy(loaded_.data() + rva, bytes, size);
    for (const Section& s : kSections) {
      if (rva >= s.rva && rva + size <= s.rva + 0x200) {
        std::memcpy(file_.data() + s.rawPointer + (rva - s.rva), bytes, size);
      }
    }
  }
  void Put32(uint32_t rva, uint32_t value) { Put(rva, &value, 4); }
  void Put16(uint32_t rva, uint16_t value) { Put(rva, &value, 2); }
  void PutText(uint32_t rva, const char* text) {
    Put(rva, text, static_cast<uint32_t>(std::strlen(text)) + 1);
  }
  // A counted UTF-16 resource name.
  void PutName(uint32_t rva, const char* text) {
    const uint16_t length = static_cast<uint16_t>(std::strlen(text));
    Put16(rva, length);
    for (uint16_t i = 0; i < length; ++i) Put16(rva + 2 + 2 * i, static_cast<uint8_t>(text[i]));
  }
  void Header16(uint32_t offset, uint16_t value) { PatchHeader(offset, value, 2); }
  void Header32(uint32_t offset, uint32_t value) { PatchHeader(offset, value, 4); }

  void BuildHeaders() {
    Header16(0, 0x5A4D);
    Header32(0x3C, 0x80);
    const uint32_t nt = 0x80, opt = nt + 24;
    Header32(nt, 0x4550);
    Header16(nt + 4, 0x14C);
    Header16(nt + 6, 3);
    Header32(nt + 8, 0x5F000001);
    Header16(nt + 20, 0xE0);
    Header16(nt + 22, 0x2102);
    Header16(opt, 0x10B);
    PatchHeader(opt + 2, 2, 1);
    PatchHeader(opt + 3, 30, 1);
    Header32(opt + 4, 0x200);
    Header32(opt + 8, 0x400);
    Header32(opt + 16, 0x1010);
    Header32(opt + 20, 0x1000);
    Header32(opt + 24, 0x2000);
    Header32(opt + 28, 0x10000000);
    Header32(opt + 32, 0x1000);
    Header32(opt + 36, 0x200);
    Header32(opt + 56, 0x4000);
    Header32(opt + 60, 0x200);
    Header32(opt + 64, 0x12345678);
    Header16(opt + 68, 3);
    Header32(opt + 92, 16);
    Header32(opt + 96, 0x2000);  // exports
    Header32(opt + 100, 0x200);
    Header32(opt + 96 + 16, 0x3000);  // resources
    Header32(opt + 100 + 16, 0x200);
    uint32_t at = opt + 0xE0;
    for (const Section& s : kSections) {
      std::memcpy(file_.data() + at, s.name, std::strlen(s.name));
      std::memcpy(loaded_.data() + at, s.name, std::strlen(s.name));
      Header32(at + 8, s.virtualSize);
      Header32(at + 12, s.rva);
      Header32(at + 16, 0x200);
      Header32(at + 20, s.rawPointer);
      Header32(at + 36, s.flags);
      at += 40;
    }
  }

  void BuildExports() {
    Put32(0x2000 + 4, 0x5F000002);
    Put32(0x2000 + 12, 0x2040);
    Put32(0x2000 + 16, 5);
    Put32(0x2000 + 20, 3);
    Put32(0x2000 + 24, 2);
    Put32(0x2000 + 28, 0x2060);
    Put32(0x2000 + 32, kNamePointers);
    Put32(0x2000 + 36, 0x2078);
    PutText(0x2040, "test.dll");
    Put32(0x2060, 0x1010);
    Put32(0x2064, 0x1020);
    Put32(0x2068, 0x2100);
    Put32(kNamePointers, 0x2080);
    Put32(kNamePointers + 4, 0x2088);
    Put16(0x2078, 0);
    Put16(0x207A, 2);
    PutText(0x2080, "Alpha");
    PutText(0x2088, "Forwarded");
    PutText(0x2100, "OTHER.Func");
  }

  // A table at offset of the resource directory with its counts.
  void Table(uint32_t offset, uint16_t named, uint16_t ids) {
    Put16(0x3000 + offset + 12, named);
    Put16(0x3000 + offset + 14, ids);
  }
  void Entry(uint32_t rva, uint32_t nameWord, uint32_t offsetWord) {
    Put32(rva, nameWord);
    Put32(rva + 4, offsetWord);
  }

  void BuildResources() {
    constexpr uint32_t kDir = 0x80000000u;
    Table(0x00, 1, 1);
    Entry(kTypeEntryQel, kDir | 0x100, kDir | kNameTableQel);
    Entry(0x3018, 10, kDir | 0x50);
    Table(kNameTableQel, 1, 0);
    Entry(kNameEntryExcept, kDir | 0x110, kDir | kLanguageTable);
    Table(kLanguageTable, 0, 1);
    Entry(kLanguageEntry, 0x409, 0x80);
    Table(0x50, 0, 1);
    Entry(0x3060, 7, kDir | 0x68);
    Table(0x68, 0, 1);
    Entry(0x3078, 0x409, 0x90);
    Put32(0x3080, 0x3180);
    Put32(0x3084, 5);
    Put32(0x3088, 1252);
    Put32(0x3090, 0x3190);
    Put32(0x3094, 3);
    PutName(0x3100, "QEL");
    PutName(0x3110, "EXCEPT");
    Put(0x3180, "hello", 5);
    Put(0x3190, "abc", 3);
  }

  std::string file_;
  std::string loaded_;
};

}  // namespace qxtest
