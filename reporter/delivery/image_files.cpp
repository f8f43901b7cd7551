#include "image_files.h"

#include <cstring>

#include "colour_quantiser.h"
#include "compression.h"

namespace qx {
namespace {

// Screenshots are mostly flat areas; the strongest level costs little more time on them.
constexpr int kPngDeflateLevel = 9;

void PutBig32(std::string& out, uint32_t v) {
  char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                   static_cast<char>(v >> 8), static_cast<char>(v)};
  out.append(bytes, 4);
}

void PutLittle(std::string& out, uint32_t v, int size) {
  for (int i = 0; i < size; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
}

void PutChunk(std::string& out, const char name[4], const std::string& data) {
  PutBig32(out, static_cast<uint32_t>(data.size()));
  size_t start = out.size();
  out.append(name, 4);
  out += data;
  PutBig32(out, Crc32(out.data() + start, out.size() - start));
}

size_t RowBytes(int32_t width, uint8_t bitDepth) {
  return 1 + (static_cast<size_t>(width) * bitDepth + 7) / 8;
}

}  // namespace

const uint8_t kGreyLevels[16] = {0,   28,  52,  73,  92,  109, 125, 140,
                                 155, 170, 185, 199, 213, 227, 241, 255};

uint8_t PngModeForDepth(int32_t scrShotDepth) {
  switch (scrShotDepth) {
    case 4: return 1;
    case 51200: return 2;
    case 102400: return 3;
    case 204800: return 4;
    case 307200: return 5;
    default: return 0;
  }
}

uint32_t PngModeLimit(uint8_t mode) {
  static const uint32_t kLimits[6] = {0, 0, 51200, 102400, 204800, 307200};
  return mode < 6 ? kLimits[mode] : 0;
}

uint8_t GreyLevelIndex(uint8_t grey) {
  uint8_t best = 0;
  int bestDistance = 256;
  for (uint8_t i = 0; i < 16; ++i) {
    int distance = grey > kGreyLevels[i] ? grey - kGreyLevels[i] : kGreyLevels[i] - grey;
    if (distance < bestDistance) {  // strictly nearer: the lower level keeps a tie
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

void ConvertToGrey(const PixelView& picture) {
  size_t pixels = picture.ByteSize() / 4;
  uint8_t* p = picture.bits;
  for (size_t i = 0; i < pixels; ++i, p += 4) {
    uint8_t grey = static_cast<uint8_t>((p[2] * 77 + p[1] * 151 + p[0] * 28) >> 8);
    p[0] = p[1] = p[2] = grey;
  }
}

std::string PaletteImagePng(int32_t width, int32_t height, uint8_t bitDepth,
                            const std::string& palette, const std::string& rows) {
  std::string compressed;
  if (!RawDeflate(rows.data(), rows.size(), kPngDeflateLevel, compressed)) return {};
  std::string png("\x89PNG\r\n\x1a\n", 8);
  std::string header;
  PutBig32(header, static_cast<uint32_t>(width));
  PutBig32(header, static_cast<uint32_t>(height));
  header += static_cast<char>(bitDepth);
  header.append("\x03\x00\x00\x00", 4);
  PutChunk(png, "IHDR", header);
  PutChunk(png, "PLTE", palette);
  std::string data("\x78\x01", 2);
  data += compressed;
  PutBig32(data, Adler32(rows.data(), rows.size()));
  PutChunk(png, "IDAT", data);
  PutChunk(png, "IEND", std::string());
  return png;
}

std::string ColourPngBytes(const PixelView& picture) {
  if (picture.Empty()) return {};
  try {
    ColourPalette palette = QuantiseColours(picture);
    PaletteMapper mapper(palette);
    size_t rowBytes = RowBytes(picture.width, 8);
    std::string rows(rowBytes * static_cast<size_t>(picture.height), '\0');
    for (int32_t y = 0; y < picture.height; ++y) {
      const uint8_t* p = picture.TopRow(y);
      char* out = &rows[rowBytes * static_cast<size_t>(y)];
      *out++ = 0;  // no filter
      for (int32_t x = 0; x < picture.width; ++x, p += 4)
        *out++ = static_cast<char>(mapper.Index(p[2], p[1], p[0]));
    }
    return PaletteImagePng(picture.width, picture.height, 8,
                           std::string(reinterpret_cast<const char*>(palette.rgb), 768), rows);
  } catch (...) {
    return {};
  }
}

std::string GreyPngBytes(const PixelView& picture) {
  if (picture.Empty()) return {};
  try {
    ConvertToGrey(picture);
    uint8_t levelOf[256];
    for (int g = 0; g < 256; ++g) levelOf[g] = GreyLevelIndex(static_cast<uint8_t>(g));
    size_t rowBytes = RowBytes(picture.width, 4);
    std::string rows(rowBytes * static_cast<size_t>(picture.height), '\0');
    for (int32_t y = 0; y < picture.height; ++y) {
      const uint8_t* p = picture.TopRow(y);
      uint8_t* out = reinterpret_cast<uint8_t*>(&rows[rowBytes * static_cast<size_t>(y)]) + 1;
      for (int32_t x = 0; x < picture.width; ++x, p += 4) {
        uint8_t level = levelOf[p[0]];
        out[x / 2] |= (x % 2 == 0) ? static_cast<uint8_t>(level << 4) : level;
      }
    }
    std::string palette;
    for (uint8_t level : kGreyLevels) palette.append(3, static_cast<char>(level));
    return PaletteImagePng(picture.width, picture.height, 4, palette, rows);
  } catch (...) {
    return {};
  }
}

std::string PngBytes(const PixelView& picture, uint8_t mode) {
  std::string colour;
  if (mode != 1) colour = ColourPngBytes(picture);
  uint32_t limit = PngModeLimit(mode);
  bool wantGrey = mode == 1 || colour.empty() || (limit != 0 && colour.size() > limit);
  if (!wantGrey) return colour;
  std::string grey = GreyPngBytes(picture);
  if (!colour.empty() && (grey.empty() || grey.size() >= colour.size())) return colour;
  return grey;
}

std::string BmpBytes(const PixelView& picture) {
  if (picture.Empty()) return {};
  try {
    uint32_t imageSize = static_cast<uint32_t>(picture.ByteSize());
    std::string bmp("BM", 2);
    PutLittle(bmp, imageSize + 54, 4);
    PutLittle(bmp, 0, 4);   // two reserved 16-bit words
    PutLittle(bmp, 54, 4);  // pixel offset
    PutLittle(bmp, 40, 4);  // bitmap header size
    PutLittle(bmp, static_cast<uint32_t>(picture.width), 4);
    PutLittle(bmp, static_cast<uint32_t>(picture.height), 4);  // positive: bottom-up rows
    PutLittle(bmp, 1, 2);    // planes
    PutLittle(bmp, 32, 2);   // bits per pixel
    PutLittle(bmp, 0, 4);    // no compression
    PutLittle(bmp, imageSize, 4);
    bmp.append(16, '\0');  // resolution and colour counts: none
    bmp.append(reinterpret_cast<const char*>(picture.bits), imageSize);
    return bmp;
  } catch (...) {
    return {};
  }
}

}  // namespace qx
