#include "file_check_win.h"

#include <cstring>

#include "pe_image.h"
#include "sync_win.h"

namespace qx {

uint32_t PeFileChecksum(const std::string& bytes, uint32_t& headerChecksum) {
  headerChecksum = 0;
  uint32_t checksumOffset = 0xFFFFFFFF;
  SpanReader reader(bytes);
  PeImage image(reader, 0, PeLayout::kFile);
  if (image.Open()) {
    checksumOffset = image.ChecksumFieldOffset();
    headerChecksum = image.Checksum();
  }
  uint64_t sum = 0;
  const size_t size = bytes.size();
  for (size_t at = 0; at < size; at += 2) {
    if (at >= checksumOffset && at < checksumOffset + 4) continue;
    uint32_t word = static_cast<uint8_t>(bytes[at]);
    if (at + 1 < size) word |= static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8;
    sum += word;
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<uint32_t>(sum) + static_cast<uint32_t>(size);
}

bool CheckModuleFile(HMODULE module) {
  char path[MAX_PATH] = {};
  if (GetModuleFileNameA(module, path, sizeof path) == 0) return false;
  ScopedHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
  if (!file.Valid()) return false;
  DWORD high = 0;
  DWORD size = GetFileSize(file.Get(), &high);
  if (size == INVALID_FILE_SIZE || high != 0) return false;
  std::string bytes(size, '\0');
  DWORD done = 0;
  if (!ReadFile(file.Get(), bytes.data(), size, &done, nullptr) || done != size) return false;
  uint32_t header = 0;
  uint32_t computed = PeFileChecksum(bytes, header);
  return header == 0 || header == computed;
}

}  // namespace qx
