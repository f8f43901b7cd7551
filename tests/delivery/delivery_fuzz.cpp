// libFuzzer target over the picture and zip writers' inputs: the first bytes choose a size
// (1x1 up to 65535 wide, odd widths), a PNG mode and a resample box; the rest are pixels,
// repeated to fill the picture, so that one-colour and few-colour pictures come up often.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "compression.h"
#include "image_files.h"
#include "resample.h"
#include "zip_archive.h"

namespace {

class NullOutput : public qx::ZipOutput {
 public:
  bool Write(const void*, size_t) override { return true; }
  bool Close() override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  int32_t width = 1 + ((data[0] | (data[1] << 8)) % 65535);
  int32_t height = 1 + data[2] % 64;
  if (static_cast<int64_t>(width) * height > (1 << 18)) height = 1;  // bounded work per input
  uint8_t mode = data[3] % 7;
  int32_t boxWidth = data[4], boxHeight = data[5];
  const uint8_t* pixels = data + 8;
  size_t available = size - 8;
  std::vector<uint8_t> bits(static_cast<size_t>(width) * height * 4);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = available ? pixels[i % available] : 0;
  qx::PixelView view{width, height, bits.data()};

  std::string png = qx::PngBytes(view, mode);
  if (png.empty() || png.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) != 0) __builtin_trap();
  if (qx::BmpBytes(view).size() != 54 + bits.size()) __builtin_trap();
  qx::PictureSize fit = qx::ResampleSize({width, height}, {boxWidth, boxHeight});
  if (fit.width > 0 && static_cast<int64_t>(fit.width) * fit.height <= (1 << 16)) {
    std::vector<uint8_t> target(static_cast<size_t>(fit.width) * fit.height * 4);
    qx::ResamplePixels(view, {fit.width, fit.height, target.data()});
  }

  NullOutput out;
  qx::ZipArchiveWriter writer(out);
  std::string packed;
  if (!qx::RawDeflate(pixels, available, 6, packed)) __builtin_trap();
  std::string name(reinterpret_cast<const char*>(pixels), available < 300 ? available : 300);
  writer.AddEntry(name, qx::Crc32(pixels, available), available, packed.data(), packed.size(), 0, 0, 0);
  writer.Finish();
  return 0;
}
