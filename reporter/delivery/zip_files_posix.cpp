// The archive's files on POSIX systems, where the portable code is built and tested.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "zip_archive.h"

namespace qx {
namespace {

class FdOutput : public ZipOutput {
 public:
  explicit FdOutput(int fd) : fd_(fd) {}
  ~FdOutput() override { Close(); }
  bool Write(const void* data, size_t size) override {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
      ssize_t written = ::write(fd_, p, size);
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      p += written;
      size -= static_cast<size_t>(written);
    }
    return true;
  }
  bool Close() override {
    if (fd_ < 0) return true;
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

class PosixZipFiles : public ZipFileSystem {
 public:
  bool ReadSource(const std::string& path, ZipSourceFile& file) override {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    // The size at opening is only a hint for the buffer.
    if (ok && info.st_size > 0 && static_cast<uint64_t>(info.st_size) < (1ull << 31)) {
      try {
        file.data.reserve(static_cast<size_t>(info.st_size));
      } catch (...) {
      }
    }
    // Read to the end, whatever the size said when the file was opened.
    char buffer[65536];
    while (ok) {
      ssize_t got = ::read(fd, buffer, sizeof buffer);
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ok = false;
      if (got <= 0) break;
      file.data.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    if (!ok) return false;
    struct tm local {};
    time_t written = info.st_mtime;
    if (localtime_r(&written, &local) != nullptr) {
      file.dosTime = DosTime(local.tm_hour, local.tm_min, local.tm_sec);
      file.dosDate = DosDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
    }
    file.attributes = static_cast<uint32_t>(info.st_mode) << 16;
    return true;
  }
  std::unique_ptr<ZipOutput> CreateArchive(const std::string& path) override {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return nullptr;
    return std::make_unique<FdOutput>(fd);
  }
  void DeleteArchive(const std::string& path) override { ::unlink(path.c_str()); }
  std::string EntryNameUtf8(const std::string& name) override { return name; }
};

}  // namespace

ZipFileSystem& PlatformZipFiles() {
  static PosixZipFiles files;
  return files;
}

}  // namespace qx
