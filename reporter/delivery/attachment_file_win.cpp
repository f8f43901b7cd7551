#include "attachment_file_win.h"

namespace qx {

AttachmentFile::~AttachmentFile() {
  if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool AttachmentFile::Open(const std::string& path) {
  file_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file_ == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(file_, &size)) return false;
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

bool AttachmentFile::Read(void* buffer, size_t count) {
  auto* at = static_cast<char*>(buffer);
  while (count > 0) {
    DWORD got = 0;
    const DWORD ask = count > 0x100000 ? 0x100000 : static_cast<DWORD>(count);
    if (!ReadFile(file_, at, ask, &got, nullptr) || got == 0) return false;
    at += got;
    count -= got;
  }
  return true;
}

uint64_t AttachmentSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return 0;
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace qx
