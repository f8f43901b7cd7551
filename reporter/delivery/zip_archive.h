// Zip archives of whole files: every entry deflated, names in UTF-8, little-endian
// headers, no zip64. An entry or an archive that the 16- and 32-bit fields cannot describe
// is refused rather than written with wrapped fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qx {

inline constexpr uint64_t kZipFieldLimit = 0xFFFFFFFFull;  // sizes, offsets
inline constexpr size_t kZipEntryLimit = 0xFFFF;           // entries, name length

// Where an archive's bytes go.
class ZipOutput {
 public:
  virtual ~ZipOutput() = default;
  virtual bool Write(const void* data, size_t size) = 0;
  // Flushes and closes; false when the bytes did not all arrive.
  virtual bool Close() = 0;
};

// Writes local headers with their data as entries come, then the central directory and
// the end record. Positions are counted in 64 bits, so an archive that outgrows the
// 32-bit fields is noticed before anything wrapped is written.
class ZipArchiveWriter {
 public:
  explicit ZipArchiveWriter(ZipOutput& out) : out_(out) {}

  // False when the entry is refused (an archive beyond 65535 entries or 4 GB, an entry
  // larger than 4 GB, a name longer than 65535 bytes) or a write fails; the archive is
  // then unusable.
  bool AddEntry(const std::string& utf8Name, uint32_t crc, uint64_t uncompressedSize,
                const void* compressed, uint64_t compressedSize, uint16_t dosTime,
                uint16_t dosDate, uint32_t attributes);
  // The central directory and the end record. False without entries or when a write fails.
  bool Finish();
  size_t EntryCount() const { return entries_.size(); }

 private:
  struct Entry {
    std::string name;
    std::string commonFields;  // version needed .. extra length, 26 bytes
    uint32_t attributes;
    uint32_t offset;
  };
  bool Put(const std::string& bytes);

  ZipOutput& out_;
  uint64_t position_ = 0;
  bool failed_ = false;
  std::vector<Entry> entries_;
};

// One source file as the archive stores it.
struct ZipSourceFile {
  std::string data;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t attributes = 0;
};

// The platform's files. Sources are read whole, once, so that the checksum and both sizes
// describe the same bytes even when the file changes meanwhile.
class ZipFileSystem {
 public:
  virtual ~ZipFileSystem() = default;
  virtual bool ReadSource(const std::string& path, ZipSourceFile& file) = 0;
  virtual std::unique_ptr<ZipOutput> CreateArchive(const std::string& path) = 0;
  virtual void DeleteArchive(const std::string& path) = 0;
  // The entry name in UTF-8, from the platform's 8-bit file-name encoding.
  virtual std::string EntryNameUtf8(const std::string& name) = 0;
};
ZipFileSystem& PlatformZipFiles();

// The entry name of source `index`: the names list's entry when there is one, otherwise
// the source's file name after its last path separator.
std::string ZipEntryName(const std::vector<std::string>& sources,
                         const std::vector<std::string>& names, size_t index);

// DOS time and date fields of a local time.
uint16_t DosTime(int hour, int minute, int second);
uint16_t DosDate(int year, int month, int day);

// Packs the sources, in order, into a new archive at `archivePath` (overwriting). Sources
// that cannot be read are skipped; when none is stored or a write fails (or an entry is
// refused) the archive is deleted and the result is false.
bool WriteZipArchive(ZipFileSystem& files, const std::string& archivePath,
                     const std::vector<std::string>& sources,
                     const std::vector<std::string>& names);
bool WriteZipArchive(const std::string& archivePath, const std::vector<std::string>& sources,
                     const std::vector<std::string>& names);

}  // namespace qx
