// Resizing a 32-bit picture with the Mitchell-Netravali cubic (B = C = 1/3), separably, in
// 16.16 fixed point.
#pragma once

#include <cstdint>
#include <vector>

#include "pixel_view.h"

namespace qx {

struct PictureSize {
  int32_t width = 0;
  int32_t height = 0;
};

// The size that fits a picture of `source` size into `box` keeping its aspect ratio; a
// zero size when either is empty.
PictureSize ResampleSize(PictureSize source, PictureSize box);

// The filter kernel at distance x (0 from 2 on).
double MitchellKernel(double x);

// One target index's source indices and their 16.16 weights along one axis.
struct Contributors {
  std::vector<int32_t> index;
  std::vector<int32_t> weight;
};
std::vector<Contributors> AxisContributors(int32_t sourceLength, int32_t targetLength);

// Fills `target` (already sized) from `source`; the fourth byte of each pixel is not written.
void ResamplePixels(const PixelView& source, const PixelView& target);

}  // namespace qx
