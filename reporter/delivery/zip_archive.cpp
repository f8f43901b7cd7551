#include "zip_archive.h"

#include "compression.h"

namespace qx {
namespace {

constexpr int kZipDeflateLevel = 6;

void Put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v));
  out.push_back(static_cast<char>(v >> 8));
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace

bool ZipArchiveWriter::Put(const std::string& bytes) {
  if (failed_) return false;
  if (!out_.Write(bytes.data(), bytes.size())) {
    failed_ = true;
    return false;
  }
  position_ += bytes.size();
  return true;
}

bool ZipArchiveWriter::AddEntry(const std::string& utf8Name, uint32_t crc,
                                uint64_t uncompressedSize, const void* compressed,
                                uint64_t compressedSize, uint16_t dosTime, uint16_t dosDate,
                                uint32_t attributes) {
  if (failed_) return false;
  uint64_t end = position_ + 30 + utf8Name.size() + compressedSize;
  // The central directory must still be addressable: its offset is this end.
  if (entries_.size() >= kZipEntryLimit || utf8Name.size() > kZipEntryLimit ||
      uncompressedSize > kZipFieldLimit || compressedSize > kZipFieldLimit ||
      end > kZipFieldLimit) {
    failed_ = true;
    return false;
  }
  Entry entry;
  entry.name = utf8Name;
  entry.attributes = attributes;
  entry.offset = static_cast<uint32_t>(position_);
  std::string& common = entry.commonFields;
  Put16(common, 20);      // version needed
  Put16(common, 0x0800);  // the name is UTF-8
  Put16(common, 8);       // deflate
  Put16(common, dosTime);
  Put16(common, dosDate);
  Put32(common, crc);
  Put32(common, static_cast<uint32_t>(compressedSize));
  Put32(common, static_cast<uint32_t>(uncompressedSize));
  Put16(common, static_cast<uint32_t>(utf8Name.size()));
  Put16(common, 0);  // extra length
  std::string header;
  Put32(header, 0x04034B50);
  header += common;
  header += utf8Name;
  if (!Put(header)) return false;
  if (compressedSize > 0 && !out_.Write(compressed, static_cast<size_t>(compressedSize))) {
    failed_ = true;
    return false;
  }
  position_ += compressedSize;
  entries_.push_back(std::move(entry));
  return true;
}

bool ZipArchiveWriter::Finish() {
  if (failed_ || entries_.empty()) return false;
  uint64_t directoryOffset = position_;
  uint64_t directorySize = 0;
  for (const Entry& entry : entries_) {
    std::string record;
    Put32(record, 0x02014B50);
    Put16(record, 20);  // version made by
    record += entry.commonFields;
    Put16(record, 0);  // comment length
    Put16(record, 0);  // disk number
    Put16(record, 0);  // internal attributes
    Put32(record, entry.attributes);
    Put32(record, entry.offset);
    record += entry.name;
    directorySize += record.size();
    if (!Put(record)) return false;
  }
  if (directoryOffset + directorySize > kZipFieldLimit) {
    failed_ = true;
    return false;
  }
  std::string end;
  Put32(end, 0x06054B50);
  Put16(end, 0);
  Put16(end, 0);
  Put16(end, static_cast<uint32_t>(entries_.size()));
  Put16(end, static_cast<uint32_t>(entries_.size()));
  Put32(end, static_cast<uint32_t>(directorySize));
  Put32(end, static_cast<uint32_t>(directoryOffset));
  Put16(end, 0);  // comment length
  return Put(end);
}

std::string ZipEntryName(const std::vector<std::string>& sources,
                         const std::vector<std::string>& names, size_t index) {
  if (index < names.size()) return names[index];
  const std::string& path = sources[index];
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

uint16_t DosTime(int hour, int minute, int second) {
  return static_cast<uint16_t>((hour << 11) | (minute << 5) | (second / 2));
}

uint16_t DosDate(int year, int month, int day) {
  int years = year < 1980 ? 0 : year - 1980;
  return static_cast<uint16_t>((years << 9) | (month << 5) | day);
}

bool WriteZipArchive(ZipFileSystem& files, const std::string& archivePath,
                     const std::vector<std::string>& sources,
                     const std::vector<std::string>& names) {
  try {
    std::unique_ptr<ZipOutput> out = files.CreateArchive(archivePath);
    if (!out) return false;
    ZipArchiveWriter writer(*out);
    bool ok = true;
    for (size_t i = 0; ok && i < sources.size(); ++i) {
      ZipSourceFile source;
      std::string compressed;
      if (!files.ReadSource(sources[i], source)) continue;
      if (!RawDeflate(source.data.data(), source.data.size(), kZipDeflateLevel, compressed))
        continue;
      uint32_t crc = Crc32(source.data.data(), source.data.size());
      std::string name = files.EntryNameUtf8(ZipEntryName(sources, names, i));
      ok = writer.AddEntry(name, crc, source.data.size(), compressed.data(), compressed.size(),
                           source.dosTime, source.dosDate, source.attributes);
    }
    ok = ok && writer.Finish();
    ok = out->Close() && ok;
    out.reset();
    if (!ok) files.DeleteArchive(archivePath);
    return ok;
  } catch (...) {
    files.DeleteArchive(archivePath);
    return false;
  }
}

bool WriteZipArchive(const std::string& archivePath, const std::vector<std::string>& sources,
                     const std::vector<std::string>& names) {
  return WriteZipArchive(PlatformZipFiles(), archivePath, sources, names);
}

}  // namespace qx
