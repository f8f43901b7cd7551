// The archive's files on Windows: sources opened so that others may go on reading and
// writing them, names converted from the ANSI code page to UTF-8.
#include <windows.h>

#include "zip_archive.h"

namespace qx {
namespace {

class HandleOutput : public ZipOutput {
 public:
  explicit HandleOutput(HANDLE file) : file_(file) {}
  ~HandleOutput() override { Close(); }
  bool Write(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      DWORD piece = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
      DWORD written = 0;
      if (!WriteFile(file_, p, piece, &written, nullptr) || written != piece) return false;
      p += written;
      size -= written;
    }
    return true;
  }
  bool Close() override {
    if (file_ == INVALID_HANDLE_VALUE) return true;
    HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    return CloseHandle(file) != FALSE;
  }

 private:
  HANDLE file_;
};

class WindowsZipFiles : public ZipFileSystem {
 public:
  bool ReadSource(const std::string& path, ZipSourceFile& file) override {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    bool ok = true;
    // The size at opening is only a hint for the buffer.
    LARGE_INTEGER hint{};
    if (GetFileSizeEx(handle, &hint) && hint.QuadPart > 0 && hint.QuadPart < (1ll << 30)) {
      try {
        file.data.reserve(static_cast<size_t>(hint.QuadPart));
      } catch (...) {
      }
    }
    // Read to the end, whatever the size said when the file was opened.
    char buffer[65536];
    for (;;) {
      DWORD got = 0;
      if (!ReadFile(handle, buffer, sizeof buffer, &got, nullptr)) {
        ok = false;
        break;
      }
      if (got == 0) break;
      try {
        file.data.append(buffer, got);
      } catch (...) {
        ok = false;
        break;
      }
    }
    FILETIME written{}, local{};
    if (ok && GetFileTime(handle, nullptr, nullptr, &written) &&
        FileTimeToLocalFileTime(&written, &local)) {
      WORD date = 0, time = 0;
      if (FileTimeToDosDateTime(&local, &date, &time)) {
        file.dosDate = date;
        file.dosTime = time;
      }
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (ok && GetFileInformationByHandle(handle, &info)) file.attributes = info.dwFileAttributes;
    CloseHandle(handle);
    return ok;
  }
  std::unique_ptr<ZipOutput> CreateArchive(const std::string& path) override {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    return std::make_unique<HandleOutput>(handle);
  }
  void DeleteArchive(const std::string& path) override { DeleteFileA(path.c_str()); }
  std::string EntryNameUtf8(const std::string& name) override {
    if (name.empty()) return name;
    int wide = MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), nullptr, 0);
    if (wide <= 0) return name;
    std::wstring text(static_cast<size_t>(wide), L'\0');
    MultiByteToWideChar(CP_ACP, 0, name.data(), static_cast<int>(name.size()), text.data(), wide);
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0) return name;
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), wide, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
  }
};

}  // namespace

ZipFileSystem& PlatformZipFiles() {
  static WindowsZipFiles files;
  return files;
}

}  // namespace qx
