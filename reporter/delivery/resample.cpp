#include "resample.h"

#include <cmath>

namespace qx {

PictureSize ResampleSize(PictureSize source, PictureSize box) {
  if (source.width <= 0 || source.height <= 0 || box.width <= 0 || box.height <= 0) return {};
  int64_t W = source.width, H = source.height, w = box.width, h = box.height;
  int64_t w2 = h * W / H;
  int64_t h2 = w * H / W;
  if (h < h2 || w < w2) {
    if (H * 65536 / h < W * 65536 / w)
      h = h2;
    else
      w = w2;
  }
  if (w <= 0 || h <= 0 || w > INT32_MAX || h > INT32_MAX) return {};
  return {static_cast<int32_t>(w), static_cast<int32_t>(h)};
}

double MitchellKernel(double x) {
  if (x < 0) x = -x;
  if (x < 1) return 7.0 / 6.0 * x * x * x - 2.0 * x * x + 8.0 / 9.0;
  if (x < 2) return -7.0 / 18.0 * x * x * x + 2.0 * x * x - 10.0 / 3.0 * x + 16.0 / 9.0;
  return 0;
}

namespace {

int32_t Fixed(double value) { return static_cast<int32_t>(std::floor(value * 65536.0 + 0.5)); }

int32_t Mirrored(int64_t j, int32_t n) {
  if (j < 0) j = -j;
  if (j >= n) j = 2 * static_cast<int64_t>(n) - 1 - j;
  // A source shorter than the filter reaches past both ends even after mirroring.
  if (j < 0) j = 0;
  if (j >= n) j = n - 1;
  return static_cast<int32_t>(j);
}

uint8_t Clamped(int64_t sum) {
  if (sum < 0) return 0;
  if (sum >= 0xFF0001) return 255;
  return static_cast<uint8_t>(sum >> 16);
}

}  // namespace

std::vector<Contributors> AxisContributors(int32_t sourceLength, int32_t targetLength) {
  int64_t n = sourceLength, m = targetLength;
  std::vector<Contributors> result(static_cast<size_t>(targetLength));
  for (int64_t i = 0; i < m; ++i) {
    Contributors& c = result[static_cast<size_t>(i)];
    if (m < n) {
      double s = static_cast<double>(m) / static_cast<double>(n);
      int64_t first = (n * (i - 2) - m + 1) / m, last = (n * (i + 2) + m - 1) / m;
      for (int64_t j = first; j <= last; ++j) {
        double x = std::fabs(static_cast<double>(i) - static_cast<double>(j) * s);
        if (x >= 2) continue;
        c.index.push_back(Mirrored(j, sourceLength));
        c.weight.push_back(Fixed(MitchellKernel(x) * s));
      }
    } else {
      double centre = static_cast<double>(i) * static_cast<double>(n) / static_cast<double>(m);
      int64_t first = (n * i - 3 * m + 1) / m, last = (n * i + 3 * m - 1) / m;
      for (int64_t j = first; j <= last; ++j) {
        double x = std::fabs(centre - static_cast<double>(j));
        if (x >= 2) continue;
        c.index.push_back(Mirrored(j, sourceLength));
        c.weight.push_back(Fixed(MitchellKernel(x)));
      }
    }
  }
  return result;
}

void ResamplePixels(const PixelView& source, const PixelView& target) {
  if (source.Empty() || target.Empty()) return;
  std::vector<Contributors> columns = AxisContributors(source.width, target.width);
  std::vector<Contributors> rows = AxisContributors(source.height, target.height);
  std::vector<uint8_t> column(static_cast<size_t>(source.height) * 4);
  size_t sourceStride = static_cast<size_t>(source.width) * 4;
  size_t targetStride = static_cast<size_t>(target.width) * 4;
  for (int32_t x = 0; x < target.width; ++x) {
    const Contributors& h = columns[static_cast<size_t>(x)];
    for (int32_t y = 0; y < source.height; ++y) {
      const uint8_t* row = source.bits + static_cast<size_t>(y) * sourceStride;
      for (int channel = 0; channel < 3; ++channel) {
        int64_t sum = 0;
        for (size_t k = 0; k < h.index.size(); ++k)
          sum += static_cast<int64_t>(h.weight[k]) * row[static_cast<size_t>(h.index[k]) * 4 + channel];
        column[static_cast<size_t>(y) * 4 + channel] = Clamped(sum);
      }
    }
    for (int32_t y = 0; y < target.height; ++y) {
      const Contributors& v = rows[static_cast<size_t>(y)];
      uint8_t* out = target.bits + static_cast<size_t>(y) * targetStride + static_cast<size_t>(x) * 4;
      for (int channel = 0; channel < 3; ++channel) {
        int64_t sum = 0;
        for (size_t k = 0; k < v.index.size(); ++k)
          sum += static_cast<int64_t>(v.weight[k]) * column[static_cast<size_t>(v.index[k]) * 4 + channel];
        out[channel] = Clamped(sum);
      }
    }
  }
}

}  // namespace qx
