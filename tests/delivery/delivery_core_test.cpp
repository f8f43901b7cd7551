// The portable attachment code: checksums and deflate, the quantiser and both PNG forms,
// BMP, resampling rules and the zip layout with its refusals.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "colour_quantiser.h"
#include "compression.h"
#include "image_files.h"
#include "resample.h"
#include "delivery_test_support.h"
#include "zip_archive.h"

namespace qx {
namespace {

// A picture in bitmap memory order, filled from the top row down by `colour(x, y)`.
struct Picture {
  std::vector<uint8_t> bits;
  PixelView view;
  Picture(int32_t w, int32_t h) : bits(static_cast<size_t>(w) * h * 4) {
    view.width = w;
    view.height = h;
    view.bits = bits.data();
  }
  void Set(int32_t x, int32_t y, uint32_t rgb) {
    uint8_t* p = view.TopRow(y) + static_cast<size_t>(x) * 4;
    p[0] = static_cast<uint8_t>(rgb);
    p[1] = static_cast<uint8_t>(rgb >> 8);
    p[2] = static_cast<uint8_t>(rgb >> 16);
  }
  uint32_t Get(int32_t x, int32_t y) const {
    const uint8_t* p = view.TopRow(y) + static_cast<size_t>(x) * 4;
    return (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
  }
};

// Colour number i in a 5-bit cell of its own (i < 32768), inside the cell at an offset.
uint32_t CellColour(uint32_t i) {
  uint32_t r = (i % 32) * 8 + 3, g = ((i / 32) % 32) * 8 + 5, b = (i / 1024) * 8 + 1;
  return (r << 16) | (g << 8) | b;
}

Picture PictureOfColours(uint32_t colours, int32_t width = 64) {
  int32_t height = static_cast<int32_t>((colours + width - 1) / width);
  Picture p(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint32_t n = static_cast<uint32_t>(y * width + x) % colours;
      p.Set(x, y, CellColour(n * 7919 % 32768));  // 7919 is prime: distinct cells
    }
  return p;
}

uint32_t Big32(const std::string& s, size_t at) {
  return (uint32_t{uint8_t(s[at])} << 24) | (uint32_t{uint8_t(s[at + 1])} << 16) |
         (uint32_t{uint8_t(s[at + 2])} << 8) | uint8_t(s[at + 3]);
}

struct Chunk {
  std::string name, data;
};
// Splits a PNG into its chunks, checking the signature and every chunk's CRC.
std::vector<Chunk> Chunks(const std::string& png) {
  std::vector<Chunk> chunks;
  EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
  size_t at = 8;
  while (at + 12 <= png.size()) {
    uint32_t length = Big32(png, at);
    Chunk c{png.substr(at + 4, 4), png.substr(at + 8, length)};
    EXPECT_EQ(Big32(png, at + 8 + length), Crc32(png.data() + at + 4, length + 4)) << c.name;
    chunks.push_back(c);
    at += 12 + length;
  }
  EXPECT_EQ(at, png.size());
  return chunks;
}

std::string Inflate(const std::string& zlibStream, size_t expected) {
  std::string out(expected + 1, '\0');
  uLongf size = static_cast<uLongf>(out.size());
  EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                       reinterpret_cast<const Bytef*>(zlibStream.data()),
                       static_cast<uLong>(zlibStream.size())),
            Z_OK);
  out.resize(size);
  return out;
}

std::string RawInflate(const std::string& data) {
  z_stream s{};
  EXPECT_EQ(inflateInit2(&s, -MAX_WBITS), Z_OK);
  std::string out;
  char buffer[16384];
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  int status;
  do {
    s.next_out = reinterpret_cast<Bytef*>(buffer);
    s.avail_out = sizeof buffer;
    status = inflate(&s, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - s.avail_out);
  } while (status == Z_OK);
  EXPECT_EQ(status, Z_STREAM_END);
  inflateEnd(&s);
  return out;
}

// ---- checksums and deflate ----

TEST(Compression, ChecksumsAreZlibs) {
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
  EXPECT_EQ(Crc32("", 0), 0u);
  EXPECT_EQ(Adler32("Wikipedia", 9), 0x11E60398u);
  EXPECT_EQ(Adler32("", 0), 1u);
}

TEST(Compression, RawDeflateRoundTripsWithinTheBound) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i % 37) + "\r\n";
  std::string noise(100000, '\0');
  uint32_t seed = 12345;
  for (char& c : noise) c = static_cast<char>((seed = seed * 1103515245 + 12345) >> 24);
  for (const std::string* input : {&text, &noise}) {
    std::string packed;
    ASSERT_TRUE(RawDeflate(input->data(), input->size(), 9, packed));
    EXPECT_LE(packed.size(), DeflateBound(input->size()));
    EXPECT_EQ(RawInflate(packed), *input);
  }
  std::string empty;
  ASSERT_TRUE(RawDeflate("", 0, 6, empty));
  EXPECT_EQ(empty, std::string("\x03\x00", 2));  // one empty final fixed block
  EXPECT_EQ(DeflateBound(0), 12u);
  EXPECT_EQ(DeflateBound(1000), 1112u);
}

// ---- quantiser ----

TEST(Quantiser, FewColoursStopSplittingAndMapExactly) {
  for (uint32_t colours : {1u, 2u, 255u, 256u}) {
    SCOPED_TRACE(colours);
    Picture p = PictureOfColours(colours);
    ColourPalette palette = QuantiseColours(p.view);
    EXPECT_EQ(palette.count, static_cast<int>(colours));
    PaletteMapper mapper(palette);
    std::set<uint8_t> used;
    for (int32_t y = 0; y < p.view.height; ++y)
      for (int32_t x = 0; x < p.view.width; ++x) {
        uint32_t c = p.Get(x, y);
        uint8_t i = mapper.Index(uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c));
        uint32_t mapped = (uint32_t{palette.rgb[i][0]} << 16) | (palette.rgb[i][1] << 8) |
                          palette.rgb[i][2];
        ASSERT_EQ(mapped, c) << x << "," << y;
        used.insert(i);
      }
    EXPECT_EQ(used.size(), colours);
    for (int i = palette.count; i < 256; ++i)
      EXPECT_EQ(palette.rgb[i][0] | palette.rgb[i][1] | palette.rgb[i][2], 0);
  }
}

TEST(Quantiser, ManyColoursFillThePaletteWithMeans) {
  Picture p(400, 250);  // 100 000 colours
  for (int32_t y = 0; y < 250; ++y)
    for (int32_t x = 0; x < 400; ++x) {
      uint32_t n = static_cast<uint32_t>(y * 400 + x);
      p.Set(x, y, ((n * 2654435761u) >> 8) & 0xFFFFFF);
    }
  ColourPalette palette = QuantiseColours(p.view);
  EXPECT_EQ(palette.count, 256);
  std::set<uint32_t> distinct;
  for (int i = 0; i < 256; ++i)
    distinct.insert((uint32_t{palette.rgb[i][0]} << 16) | (palette.rgb[i][1] << 8) | palette.rgb[i][2]);
  EXPECT_GT(distinct.size(), 250u);
}

TEST(Quantiser, MapperCachesTheFirstAnswerForTheWholeCell) {
  ColourPalette palette;
  palette.count = 3;
  const uint8_t colours[3][3] = {{10, 10, 10}, {17, 10, 10}, {10, 10, 10}};
  std::memcpy(palette.rgb, colours, sizeof colours);
  PaletteMapper mapper(palette);
  EXPECT_EQ(mapper.Index(10, 10, 10), 0);  // first of two equal entries
  EXPECT_EQ(mapper.Index(15, 10, 10), 0);  // same 5-bit cell: cached, though 1 is nearer
  PaletteMapper fresh(palette);
  EXPECT_EQ(fresh.Index(15, 10, 10), 1);
}

// ---- PNG ----

TEST(Png, ColourImageLayoutAndPixels) {
  Picture p = PictureOfColours(5, 7);  // odd width, five colours
  std::string png = ColourPngBytes(p.view);
  std::vector<Chunk> chunks = Chunks(png);
  ASSERT_EQ(chunks.size(), 4u);
  EXPECT_EQ(chunks[0].name, "IHDR");
  EXPECT_EQ(chunks[0].data, std::string("\0\0\0\x07\0\0\0\x01\x08\x03\0\0\0", 13));
  EXPECT_EQ(chunks[1].name, "PLTE");
  EXPECT_EQ(chunks[1].data.size(), 768u);
  EXPECT_EQ(chunks[2].name, "IDAT");
  EXPECT_EQ(chunks[2].data.substr(0, 2), std::string("\x78\x01", 2));
  EXPECT_EQ(chunks[3].name, "IEND");
  EXPECT_TRUE(chunks[3].data.empty());
  std::string rows = Inflate(chunks[2].data, 8);
  ASSERT_EQ(rows.size(), 8u);
  EXPECT_EQ(rows[0], 0);  // filter byte
  ColourPalette palette = QuantiseColours(p.view);
  PaletteMapper mapper(palette);
  for (int x = 0; x < 7; ++x) {
    uint32_t c = p.Get(x, 0);
    EXPECT_EQ(uint8_t(rows[1 + x]), mapper.Index(uint8_t(c >> 16), uint8_t(c >> 8), uint8_t(c)));
  }
}

TEST(Png, RowsRunFromTheTopOfThePicture) {
  Picture p(2, 2);
  p.Set(0, 0, 0xFF0000);
  p.Set(1, 0, 0xFF0000);
  p.Set(0, 1, 0x0000FF);
  p.Set(1, 1, 0x0000FF);
  std::vector<Chunk> chunks = Chunks(ColourPngBytes(p.view));
  std::string rows = Inflate(chunks[2].data, 6);
  const std::string& plte = chunks[1].data;
  uint8_t top = uint8_t(rows[1]), bottom = uint8_t(rows[4]);
  EXPECT_EQ(plte.substr(top * 3, 3), std::string("\xFF\0\0", 3));
  EXPECT_EQ(plte.substr(bottom * 3, 3), std::string("\0\0\xFF", 3));
}

TEST(Png, OnePixelAndEmptyPictures) {
  Picture one(1, 1);
  one.Set(0, 0, 0x123456);
  EXPECT_EQ(Chunks(ColourPngBytes(one.view)).size(), 4u);
  PixelView empty;
  EXPECT_TRUE(ColourPngBytes(empty).empty());
  EXPECT_TRUE(GreyPngBytes(empty).empty());
  EXPECT_TRUE(PngBytes(empty, 2).empty());
  EXPECT_TRUE(BmpBytes(empty).empty());
}

TEST(Grey, LevelsTiesAndConversion) {
  const uint8_t levels[16] = {0, 28, 52, 73, 92, 109, 125, 140, 155, 170, 185, 199, 213, 227, 241, 255};
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(kGreyLevels[i], levels[i]);
    EXPECT_EQ(GreyLevelIndex(levels[i]), i);
  }
  EXPECT_EQ(GreyLevelIndex(14), 0);   // 0 and 28 equally near: the lower
  EXPECT_EQ(GreyLevelIndex(15), 1);
  EXPECT_EQ(GreyLevelIndex(40), 1);   // 28 and 52: the lower
  EXPECT_EQ(GreyLevelIndex(248), 14); // 241 and 255 are 7 away: the lower
  Picture p(1, 1);
  p.Set(0, 0, 0xC86432);  // red 200, green 100, blue 50
  ConvertToGrey(p.view);
  uint8_t grey = static_cast<uint8_t>((200 * 77 + 100 * 151 + 50 * 28) >> 8);
  EXPECT_EQ(p.Get(0, 0), (uint32_t{grey} << 16) | (grey << 8) | grey);
}

TEST(Grey, FourBitRowsWithAnOddWidth) {
  Picture p(5, 2);
  for (int x = 0; x < 5; ++x) {
    p.Set(x, 0, 0xFFFFFF);
    p.Set(x, 1, 0x000000);
  }
  p.Set(0, 0, 0x1C1C1C);  // grey 28: level 1
  std::string png = GreyPngBytes(p.view);
  std::vector<Chunk> chunks = Chunks(png);
  EXPECT_EQ(chunks[0].data.substr(8), std::string("\x04\x03\0\0\0", 5));
  ASSERT_EQ(chunks[1].data.size(), 48u);
  for (int i = 0; i < 16; ++i)
    EXPECT_EQ(chunks[1].data.substr(i * 3, 3), std::string(3, char(kGreyLevels[i])));
  EXPECT_EQ(chunks[2].data.substr(0, 2), std::string("\x78\x01", 2));
  std::string rows = Inflate(chunks[2].data, 8);
  EXPECT_EQ(rows, std::string("\x00\x1F\xFF\xF0\x00\x00\x00\x00", 8));
}

TEST(Grey, ModeRules) {
  EXPECT_EQ(PngModeForDepth(4), 1);
  EXPECT_EQ(PngModeForDepth(51200), 2);
  EXPECT_EQ(PngModeForDepth(102400), 3);
  EXPECT_EQ(PngModeForDepth(204800), 4);
  EXPECT_EQ(PngModeForDepth(307200), 5);
  EXPECT_EQ(PngModeForDepth(8), 0);
  EXPECT_EQ(PngModeForDepth(0), 0);

  // Noise compresses badly in colour: above 51200 bytes, the grey image is smaller.
  Picture noisy(300, 300);
  uint32_t seed = 99;
  for (int32_t y = 0; y < 300; ++y)
    for (int32_t x = 0; x < 300; ++x) noisy.Set(x, y, (seed = seed * 1664525 + 1013904223) >> 8);
  Picture copy = noisy;
  copy.view.bits = copy.bits.data();
  std::string colour = ColourPngBytes(copy.view);
  ASSERT_GT(colour.size(), 51200u);
  std::string chosen = PngBytes(noisy.view, 2);
  EXPECT_LT(chosen.size(), colour.size());
  EXPECT_EQ(Chunks(chosen)[1].data.size(), 48u);
  for (int32_t y = 0; y < 300; y += 37)
    for (int32_t x = 0; x < 300; x += 41) {
      uint32_t c = noisy.Get(x, y);
      EXPECT_EQ(c >> 16, c & 0xFF);
      EXPECT_EQ((c >> 8) & 0xFF, c & 0xFF);
    }
  // Mode 0 never looks at grey; the picture keeps its colours.
  Picture kept = PictureOfColours(100);
  std::vector<uint8_t> before = kept.bits;
  EXPECT_EQ(Chunks(PngBytes(kept.view, 0))[1].data.size(), 768u);
  EXPECT_EQ(kept.bits, before);
  // Mode 1 is grey only.
  EXPECT_EQ(Chunks(PngBytes(kept.view, 1))[1].data.size(), 48u);
}

// ---- BMP ----

TEST(Bmp, HeaderAndPixelMemory) {
  Picture p(3, 2);
  p.Set(2, 0, 0x102030);
  std::string bmp = BmpBytes(p.view);
  ASSERT_EQ(bmp.size(), 54u + 24u);
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(Little(bmp, 2, 4), 78u);
  EXPECT_EQ(Little(bmp, 6, 4), 0u);
  EXPECT_EQ(Little(bmp, 10, 4), 54u);
  EXPECT_EQ(Little(bmp, 14, 4), 40u);
  EXPECT_EQ(Little(bmp, 18, 4), 3u);
  EXPECT_EQ(Little(bmp, 22, 4), 2u);
  EXPECT_EQ(Little(bmp, 26, 2), 1u);
  EXPECT_EQ(Little(bmp, 28, 2), 32u);
  EXPECT_EQ(Little(bmp, 30, 4), 0u);
  EXPECT_EQ(Little(bmp, 34, 4), 24u);
  EXPECT_EQ(bmp.substr(54), std::string(p.bits.begin(), p.bits.end()));
}

// ---- resampling ----

TEST(Resample, SizeKeepsTheAspectRatio) {
  auto fit = [](int32_t W, int32_t H, int32_t w, int32_t h) {
    PictureSize s = ResampleSize({W, H}, {w, h});
    return std::to_string(s.width) + "x" + std::to_string(s.height);
  };
  EXPECT_EQ(fit(1280, 1024, 640, 640), "640x512");
  EXPECT_EQ(fit(1024, 1280, 640, 640), "512x640");
  EXPECT_EQ(fit(1280, 1024, 640, 512), "640x512");
  EXPECT_EQ(fit(100, 50, 1000, 1000), "1000x500");
  EXPECT_EQ(fit(0, 50, 10, 10), "0x0");
  EXPECT_EQ(fit(100, 50, 0, 10), "0x0");
}

TEST(Resample, KernelAndWeights) {
  EXPECT_DOUBLE_EQ(MitchellKernel(0), 8.0 / 9.0);
  EXPECT_NEAR(MitchellKernel(1), 1.0 / 18.0, 1e-12);
  EXPECT_NEAR(MitchellKernel(2 - 1e-12), 0, 1e-9);
  EXPECT_EQ(MitchellKernel(2.5), 0);
  // Same size: each target pixel is its source pixel with its two neighbours.
  std::vector<Contributors> same = AxisContributors(10, 10);
  ASSERT_EQ(same[5].index.size(), 3u);
  EXPECT_EQ(same[5].weight[1], 58254);  // 8/9 of 65536
  // A flat picture stays flat whichever way it is resized, up to what the rounded weights
  // and the truncating shift of both passes lose (a few levels).
  for (PictureSize to : {PictureSize{7, 5}, PictureSize{40, 33}, PictureSize{1, 1}}) {
    Picture src(13, 11), dst(to.width, to.height);
    for (int32_t y = 0; y < 11; ++y)
      for (int32_t x = 0; x < 13; ++x) src.Set(x, y, 0x80C040);
    ResamplePixels(src.view, dst.view);
    for (int32_t y = 0; y < to.height; ++y)
      for (int32_t x = 0; x < to.width; ++x) ASSERT_NEAR(int(dst.Get(x, y) >> 8 & 0xFF), 0xC0, 3);
  }
}

// ---- zip ----

class MemoryOutput : public ZipOutput {
 public:
  bool Write(const void* data, size_t size) override {
    if (countOnly) {
      counted += size;
      return true;
    }
    bytes.append(static_cast<const char*>(data), size);
    return true;
  }
  bool Close() override { return true; }
  std::string bytes;
  bool countOnly = false;
  uint64_t counted = 0;
};

TEST(Zip, LayoutOfLocalHeadersDirectoryAndEndRecord) {
  MemoryOutput out;
  ZipArchiveWriter writer(out);
  std::string packed;
  ASSERT_TRUE(RawDeflate("hello", 5, 6, packed));
  std::string name = "b\xC3\xBC" "cher.txt";  // "bücher.txt" in UTF-8
  ASSERT_TRUE(writer.AddEntry(name, Crc32("hello", 5), 5, packed.data(), packed.size(),
                              DosTime(13, 45, 30), DosDate(2024, 2, 29), 0x20));
  ASSERT_TRUE(writer.AddEntry("a", 0, 0, "\x03\x00", 2, 0, 0, 0));
  ASSERT_TRUE(writer.Finish());
  const std::string& z = out.bytes;
  EXPECT_EQ(Little(z, 0, 4), 0x04034B50u);
  EXPECT_EQ(Little(z, 4, 2), 20u);
  EXPECT_EQ(Little(z, 6, 2), 0x0800u);
  EXPECT_EQ(Little(z, 8, 2), 8u);
  EXPECT_EQ(Little(z, 10, 2), (13u << 11) | (45u << 5) | 15u);
  EXPECT_EQ(Little(z, 12, 2), (44u << 9) | (2u << 5) | 29u);
  EXPECT_EQ(Little(z, 14, 4), 0x3610A686u);
  EXPECT_EQ(Little(z, 18, 4), packed.size());
  EXPECT_EQ(Little(z, 22, 4), 5u);
  EXPECT_EQ(Little(z, 26, 2), name.size());
  EXPECT_EQ(Little(z, 28, 2), 0u);
  EXPECT_EQ(z.substr(30, name.size()), name);
  size_t second = 30 + name.size() + packed.size();
  EXPECT_EQ(Little(z, second, 4), 0x04034B50u);
  size_t directory = second + 30 + 1 + 2;
  EXPECT_EQ(Little(z, directory, 4), 0x02014B50u);
  EXPECT_EQ(Little(z, directory + 4, 2), 20u);
  EXPECT_EQ(z.substr(directory + 6, 26), z.substr(4, 26));
  EXPECT_EQ(Little(z, directory + 32, 2), 0u);
  EXPECT_EQ(Little(z, directory + 34, 2), 0u);
  EXPECT_EQ(Little(z, directory + 36, 2), 0u);
  EXPECT_EQ(Little(z, directory + 38, 4), 0x20u);
  EXPECT_EQ(Little(z, directory + 42, 4), 0u);
  EXPECT_EQ(z.substr(directory + 46, name.size()), name);
  size_t record2 = directory + 46 + name.size();
  EXPECT_EQ(Little(z, record2 + 42, 4), second);
  size_t end = record2 + 46 + 1;
  ASSERT_EQ(z.size(), end + 22);
  EXPECT_EQ(Little(z, end, 4), 0x06054B50u);
  EXPECT_EQ(Little(z, end + 4, 4), 0u);
  EXPECT_EQ(Little(z, end + 8, 2), 2u);
  EXPECT_EQ(Little(z, end + 10, 2), 2u);
  EXPECT_EQ(Little(z, end + 12, 4), 46 * 2 + name.size() + 1);
  EXPECT_EQ(Little(z, end + 16, 4), directory);
  EXPECT_EQ(Little(z, end + 20, 2), 0u);
}

TEST(Zip, RefusesWhatTheFieldsCannotHold) {
  {  // the 65536th entry
    MemoryOutput out;
    out.countOnly = true;
    ZipArchiveWriter writer(out);
    for (size_t i = 0; i < 65535; ++i)
      ASSERT_TRUE(writer.AddEntry("f", 0, 0, "\x03\x00", 2, 0, 0, 0));
    EXPECT_FALSE(writer.AddEntry("f", 0, 0, "\x03\x00", 2, 0, 0, 0));
    EXPECT_FALSE(writer.Finish());
  }
  {  // an entry larger than 4 GB
    MemoryOutput out;
    out.countOnly = true;
    ZipArchiveWriter writer(out);
    EXPECT_FALSE(writer.AddEntry("big", 0, 0x100000000ull, "", 1000, 0, 0, 0));
    EXPECT_EQ(out.counted, 0u);
  }
  {  // an archive that would pass 4 GB (the output only counts what it is given)
    MemoryOutput out;
    out.countOnly = true;
    ZipArchiveWriter writer(out);
    ASSERT_TRUE(writer.AddEntry("one", 0, 0xF0000000ull, "", 0xC0000000ull, 0, 0, 0));
    EXPECT_FALSE(writer.AddEntry("two", 0, 0x40000000ull, "", 0x40000000ull, 0, 0, 0));
    EXPECT_EQ(out.counted, 30u + 3 + 0xC0000000ull);
    EXPECT_FALSE(writer.Finish());
  }
  {  // a name longer than 65535 bytes
    MemoryOutput out;
    ZipArchiveWriter writer(out);
    EXPECT_FALSE(writer.AddEntry(std::string(65536, 'n'), 0, 0, "\x03\x00", 2, 0, 0, 0));
  }
}

TEST(Zip, EntryNamesAndDosFields) {
  std::vector<std::string> sources = {"C:\\temp\\report.txt", "shot.png", "d/e.bin"};
  std::vector<std::string> names = {"bugreport.txt"};
  EXPECT_EQ(ZipEntryName(sources, names, 0), "bugreport.txt");
  EXPECT_EQ(ZipEntryName(sources, names, 1), "shot.png");
  EXPECT_EQ(ZipEntryName(sources, names, 2), "e.bin");
  EXPECT_EQ(ZipEntryName(sources, {}, 0), "report.txt");
  EXPECT_EQ(DosTime(23, 59, 59), (23 << 11) | (59 << 5) | 29);
  EXPECT_EQ(DosDate(1980, 1, 1), (1 << 5) | 1);
}

}  // namespace
}  // namespace qx
