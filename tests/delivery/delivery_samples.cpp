// Writes PNG, BMP, zip and resampled pictures, with what our code computed for them, into
// a folder, for delivery_readers_test.py to check with real readers (pngcheck, PIL, unzip,
// Python's zipfile) and an independent resampling reference.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "colour_quantiser.h"
#include "image_files.h"
#include "resample.h"
#include "zip_archive.h"

namespace {

using namespace qx;

struct Picture {
  std::vector<uint8_t> bits;
  PixelView view;
  Picture(int32_t w, int32_t h) : bits(static_cast<size_t>(w) * h * 4) {
    view = {w, h, bits.data()};
  }
  void Set(int32_t x, int32_t y, int r, int g, int b) {
    uint8_t* p = view.TopRow(y) + static_cast<size_t>(x) * 4;
    p[0] = static_cast<uint8_t>(b);
    p[1] = static_cast<uint8_t>(g);
    p[2] = static_cast<uint8_t>(r);
  }
  // Red, green, blue per pixel from the top row down, as image readers return them.
  std::string Rgb() const {
    std::string out;
    for (int32_t y = 0; y < view.height; ++y) {
      const uint8_t* p = view.TopRow(y);
      for (int32_t x = 0; x < view.width; ++x, p += 4) {
        out.push_back(static_cast<char>(p[2]));
        out.push_back(static_cast<char>(p[1]));
        out.push_back(static_cast<char>(p[0]));
      }
    }
    return out;
  }
};

bool Save(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
  return static_cast<bool>(out);
}

// Window-like areas, a gradient and some noise: more than 256 colours.
Picture Scene(int32_t w, int32_t h) {
  Picture p(w, h);
  uint32_t seed = 7;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      seed = seed * 1664525 + 1013904223;
      if (y < h / 4)
        p.Set(x, y, 10, 36, 106 + x * 100 / w);
      else if (x < w / 3)
        p.Set(x, y, 212, 208, 200);
      else
        p.Set(x, y, x * 255 / w, y * 255 / h, static_cast<int>((seed >> 24) & 0x3F) + 96);
    }
  return p;
}

std::string Indices(const Picture& p, const ColourPalette& palette) {
  PaletteMapper mapper(palette);
  std::string out;
  for (int32_t y = 0; y < p.view.height; ++y) {
    const uint8_t* q = p.view.TopRow(y);
    for (int32_t x = 0; x < p.view.width; ++x, q += 4)
      out.push_back(static_cast<char>(mapper.Index(q[2], q[1], q[0])));
  }
  return out;
}

bool WritePictures(const std::string& dir) {
  bool ok = true;
  Picture scene = Scene(97, 61);
  ColourPalette palette = QuantiseColours(scene.view);
  ok &= Save(dir + "/colour.png", ColourPngBytes(scene.view));
  ok &= Save(dir + "/colour.indices", Indices(scene, palette));
  ok &= Save(dir + "/colour.palette", std::string(reinterpret_cast<const char*>(palette.rgb), 768));
  ok &= Save(dir + "/scene.rgb", scene.Rgb());
  ok &= Save(dir + "/scene.bmp", BmpBytes(scene.view));

  Picture few(40, 5);  // 200 colours, each in a 5-bit cell of its own
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 40; ++x) {
      int n = (y * 40 + x) * 7919 % 32768;
      few.Set(x, y, (n % 32) * 8 + 3, ((n / 32) % 32) * 8 + 5, (n / 1024) * 8 + 1);
    }
  ok &= Save(dir + "/few.png", ColourPngBytes(few.view));
  ok &= Save(dir + "/few.rgb", few.Rgb());

  Picture one(1, 1);
  one.Set(0, 0, 1, 2, 3);
  ok &= Save(dir + "/one.png", ColourPngBytes(one.view));

  Picture grey = Scene(33, 9);  // odd width
  std::string greyPng = GreyPngBytes(grey.view);
  std::string levels;
  for (int32_t y = 0; y < 9; ++y) {
    const uint8_t* q = grey.view.TopRow(y);
    for (int32_t x = 0; x < 33; ++x, q += 4) levels.push_back(static_cast<char>(GreyLevelIndex(q[0])));
  }
  ok &= Save(dir + "/grey.png", greyPng);
  ok &= Save(dir + "/grey.indices", levels);
  return ok;
}

// Source and results in bitmap memory order (bottom row first, 4 bytes per pixel).
bool WriteResampled(const std::string& dir) {
  bool ok = true;
  Picture source = Scene(37, 23);
  ok &= Save(dir + "/resample_source.bgrx", std::string(source.bits.begin(), source.bits.end()));
  const PictureSize sizes[] = {{15, 9}, {80, 50}, {37, 23}, {5, 40}, {1, 1}};
  for (PictureSize size : sizes) {
    Picture target(size.width, size.height);
    ResamplePixels(source.view, target.view);
    ok &= Save(dir + "/resample_" + std::to_string(size.width) + "x" + std::to_string(size.height) +
                   ".bgrx",
               std::string(target.bits.begin(), target.bits.end()));
  }
  return ok;
}

bool WriteArchives(const std::string& dir) {
  std::string big;
  for (int i = 0; i < 5000; ++i) big += "line " + std::to_string(i) + " of the report\r\n";
  bool ok = Save(dir + "/report.txt", big) && Save(dir + "/empty.txt", "") &&
            Save(dir + "/log.txt", "first log");
  std::vector<std::string> sources = {dir + "/report.txt", dir + "/empty.txt", dir + "/log.txt",
                                      dir + "/log.txt", dir + "/missing.txt"};
  std::vector<std::string> names = {"b\xC3\xBC" "cher.txt"};
  ok &= WriteZipArchive(dir + "/attachments.zip", sources, names);
  ok &= !WriteZipArchive(dir + "/none.zip", {dir + "/missing.txt"}, {});
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: delivery_samples FOLDER\n");
    return 2;
  }
  std::string dir = argv[1];
  bool ok = WritePictures(dir) && WriteResampled(dir) && WriteArchives(dir);
  if (!ok) std::fprintf(stderr, "delivery_samples: writing the samples failed\n");
  return ok ? 0 : 1;
}
