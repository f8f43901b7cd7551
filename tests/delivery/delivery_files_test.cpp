// WriteZipArchive over real files: what is stored, what is skipped, what is left on disk.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "ci_environment.h"
#include "compression.h"
#include "delivery_test_support.h"
#include "zip_archive.h"

namespace qx {
namespace {

namespace fs = std::filesystem;


struct Entry {
  std::string name, data;
  uint32_t crc = 0, compressedSize = 0, size = 0;
};

// The entries of an archive, read through its central directory as an unzip tool does.
std::vector<Entry> ReadArchive(const std::string& z) {
  std::vector<Entry> entries;
  EXPECT_GE(z.size(), 22u);
  if (z.size() < 22) return entries;
  size_t end = z.size() - 22;
  EXPECT_EQ(Little(z, end, 4), 0x06054B50u);
  size_t count = Little(z, end + 10, 2), at = Little(z, end + 16, 4);
  for (size_t i = 0; i < count; ++i) {
    EXPECT_EQ(Little(z, at, 4), 0x02014B50u);
    Entry e;
    e.crc = Little(z, at + 16, 4);
    e.compressedSize = Little(z, at + 20, 4);
    e.size = Little(z, at + 24, 4);
    size_t nameLength = Little(z, at + 28, 2);
    e.name = z.substr(at + 46, nameLength);
    size_t local = Little(z, at + 42, 4);
    EXPECT_EQ(Little(z, local, 4), 0x04034B50u);
    std::string packed = z.substr(local + 30 + nameLength, e.compressedSize);
    z_stream s{};
    inflateInit2(&s, -MAX_WBITS);
    e.data.resize(e.size + 1);
    s.next_in = reinterpret_cast<Bytef*>(packed.data());
    s.avail_in = static_cast<uInt>(packed.size());
    s.next_out = reinterpret_cast<Bytef*>(e.data.data());
    s.avail_out = static_cast<uInt>(e.data.size());
    EXPECT_EQ(inflate(&s, Z_FINISH), Z_STREAM_END);
    e.data.resize(s.total_out);
    inflateEnd(&s);
    entries.push_back(e);
    at += 46 + nameLength;
  }
  return entries;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFile(const fs::path& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

class ZipFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("qx_zip_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }
  fs::path dir_;
};

TEST_F(ZipFiles, EmptyFileGivesCrcZeroAndAnEmptyDeflateStream) {
  WriteFile(Path("report.txt"), "");
  ASSERT_TRUE(WriteZipArchive(Path("a.zip"), {Path("report.txt")}, {}));
  std::string z = ReadFile(Path("a.zip"));
  std::vector<Entry> entries = ReadArchive(z);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].name, "report.txt");
  EXPECT_EQ(entries[0].crc, 0u);
  EXPECT_EQ(entries[0].size, 0u);
  EXPECT_EQ(entries[0].compressedSize, 2u);
  EXPECT_EQ(z.substr(30 + 10, 2), std::string("\x03\x00", 2));
}

TEST_F(ZipFiles, SameNamesGiveTwoEntriesAndUnreadableSourcesAreSkipped) {
  fs::create_directories(dir_ / "one");
  fs::create_directories(dir_ / "two");
  std::string big;
  for (int i = 0; i < 20000; ++i) big += "report line " + std::to_string(i) + "\r\n";
  WriteFile(dir_ / "one" / "log.txt", big);
  WriteFile(dir_ / "two" / "log.txt", "second");
  ASSERT_TRUE(WriteZipArchive(
      Path("b.zip"),
      {(dir_ / "one" / "log.txt").string(), Path("missing.txt"), (dir_ / "two" / "log.txt").string()},
      {}));
  std::vector<Entry> entries = ReadArchive(ReadFile(Path("b.zip")));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "log.txt");
  EXPECT_EQ(entries[1].name, "log.txt");
  EXPECT_EQ(entries[0].data, big);
  EXPECT_EQ(entries[0].crc, Crc32(big.data(), big.size()));
  EXPECT_LT(entries[0].compressedSize, big.size() / 4);
  EXPECT_EQ(entries[1].data, "second");
}

TEST_F(ZipFiles, NamesListGivesEntryNamesAsFarAsItGoes) {
  WriteFile(Path("x.bin"), "x");
  WriteFile(Path("y.bin"), "y");
#if defined(_WIN32)
  // Names come in the ANSI code page and are stored in UTF-8.
  if (GetACP() != 1252) {
    if (qx::RunningUnderCi()) FAIL() << "code page " << GetACP() << ": the UTF-8 names went unchecked";
    GTEST_SKIP() << "the test's name is written for code page 1252";
  }
  const std::string given = "b\xFC" "cher.txt";
#else
  const std::string given = "b\xC3\xBC" "cher.txt";
#endif
  ASSERT_TRUE(WriteZipArchive(Path("c.zip"), {Path("x.bin"), Path("y.bin")}, {given}));
  std::vector<Entry> entries = ReadArchive(ReadFile(Path("c.zip")));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].name, "b\xC3\xBC" "cher.txt");
  EXPECT_EQ(entries[1].name, "y.bin");
}

TEST_F(ZipFiles, NothingStoredLeavesNoArchive) {
  WriteFile(Path("d.zip"), "an older archive");
  EXPECT_FALSE(WriteZipArchive(Path("d.zip"), {Path("gone1"), Path("gone2")}, {}));
  EXPECT_FALSE(fs::exists(Path("d.zip")));
  EXPECT_FALSE(WriteZipArchive(Path("e.zip"), {}, {}));
  EXPECT_FALSE(fs::exists(Path("e.zip")));
  EXPECT_FALSE(WriteZipArchive(Path("no_such_folder/f.zip"), {Path("gone1")}, {}));
}

#if !defined(_WIN32)
// A source whose size says nothing about its content (a pipe: size 0 when opened) is
// read to its end once; the checksum and both sizes describe those bytes.
TEST_F(ZipFiles, SourceIsReadOnceToItsEnd) {
  std::string fifo = Path("growing.txt");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  std::string content;
  for (int i = 0; i < 30000; ++i) content += std::to_string(i) + ",";
  std::thread writer([&] {
    int fd = open(fifo.c_str(), O_WRONLY);
    size_t at = 0;
    while (fd >= 0 && at < content.size()) {
      ssize_t n = write(fd, content.data() + at, std::min<size_t>(4096, content.size() - at));
      if (n <= 0) break;
      at += static_cast<size_t>(n);
    }
    if (fd >= 0) close(fd);
  });
  bool ok = WriteZipArchive(Path("g.zip"), {fifo}, {});
  writer.join();
  ASSERT_TRUE(ok);
  std::vector<Entry> entries = ReadArchive(ReadFile(Path("g.zip")));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].size, content.size());
  EXPECT_EQ(entries[0].data, content);
  EXPECT_EQ(entries[0].crc, Crc32(content.data(), content.size()));
}
#endif

}  // namespace
}  // namespace qx
