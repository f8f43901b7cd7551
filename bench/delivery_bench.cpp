// Colour PNG and zip figures of our attachment code, for delivery_bench.py to set beside
// PIL and Python's zipfile on the same pictures and the same file.
//   delivery_bench png PICTURE.bgrx WIDTH HEIGHT OUT.png   -> "ms bytes psnr"
//   delivery_bench zip SOURCE OUT.zip                      -> "ms bytes"
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "colour_quantiser.h"
#include "image_files.h"
#include "zip_archive.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kRuns = 5;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

double Milliseconds(Clock::time_point from) {
  return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
}

std::string ReadAll(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// Peak signal-to-noise ratio of the palette picture against the original, over red, green
// and blue.
double QuantisedPsnr(const qx::PixelView& picture) {
  qx::ColourPalette palette = qx::QuantiseColours(picture);
  qx::PaletteMapper mapper(palette);
  double squares = 0;
  size_t pixels = picture.ByteSize() / 4;
  for (size_t i = 0; i < pixels; ++i) {
    const uint8_t* p = picture.bits + i * 4;
    const uint8_t* c = palette.rgb[mapper.Index(p[2], p[1], p[0])];
    for (int k = 0; k < 3; ++k) {
      double d = static_cast<double>(c[k]) - p[2 - k];
      squares += d * d;
    }
  }
  double mse = squares / (static_cast<double>(pixels) * 3);
  return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

int Png(const char* path, int width, int height, const char* out) {
  std::string original = ReadAll(path);
  if (original.size() != static_cast<size_t>(width) * height * 4) {
    std::fprintf(stderr, "delivery_bench: %s is not %dx%d BGRX\n", path, width, height);
    return 1;
  }
  std::vector<double> times;
  std::string png;
  for (int run = 0; run < kRuns; ++run) {
    std::string copy = original;
    qx::PixelView view{width, height, reinterpret_cast<uint8_t*>(copy.data())};
    Clock::time_point start = Clock::now();
    png = qx::ColourPngBytes(view);
    times.push_back(Milliseconds(start));
  }
  std::ofstream(out, std::ios::binary) << png;
  qx::PixelView view{width, height, reinterpret_cast<uint8_t*>(original.data())};
  std::printf("%.1f %zu %.2f\n", Median(times), png.size(), QuantisedPsnr(view));
  return png.empty() ? 1 : 0;
}

int Zip(const char* source, const char* out) {
  std::vector<double> times;
  for (int run = 0; run < kRuns; ++run) {
    Clock::time_point start = Clock::now();
    if (!qx::WriteZipArchive(out, {source}, {})) return 1;
    times.push_back(Milliseconds(start));
  }
  std::printf("%.1f %zu\n", Median(times), ReadAll(out).size());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::strcmp(argv[1], "png") == 0)
    return Png(argv[2], std::atoi(argv[3]), std::atoi(argv[4]), argv[5]);
  if (argc == 4 && std::strcmp(argv[1], "zip") == 0) return Zip(argv[2], argv[3]);
  std::fprintf(stderr, "usage: delivery_bench png PICTURE.bgrx W H OUT.png | zip SOURCE OUT.zip\n");
  return 2;
}
