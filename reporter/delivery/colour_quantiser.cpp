#include "colour_quantiser.h"

#include <cstdlib>

namespace qx {
namespace {

constexpr int kSide = 33;
constexpr int kCells = kSide * kSide * kSide;
constexpr int kMaxColours = 256;

inline int Cell(int r, int g, int b) { return r * kSide * kSide + g * kSide + b; }

struct Moments {
  std::vector<int64_t> count, red, green, blue;
  std::vector<double> squares;
  Moments() : count(kCells), red(kCells), green(kCells), blue(kCells), squares(kCells) {}
};

// Cells run from lower (exclusive) to upper (inclusive) on each axis.
struct Box {
  int r0 = 0, r1 = 0, g0 = 0, g1 = 0, b0 = 0, b1 = 0;
  int Volume() const { return (r1 - r0) * (g1 - g0) * (b1 - b0); }
};

struct BoxSums {
  int64_t count = 0, red = 0, green = 0, blue = 0;
  double squares = 0;
  double Score() const {
    double r = static_cast<double>(red), g = static_cast<double>(green),
           b = static_cast<double>(blue);
    return (r * r + g * g + b * b) / static_cast<double>(count);
  }
};

void BuildHistogram(const PixelView& picture, Moments& m) {
  size_t pixels = picture.ByteSize() / 4;
  const uint8_t* p = picture.bits;
  for (size_t i = 0; i < pixels; ++i, p += 4) {
    int b = p[0], g = p[1], r = p[2];
    int cell = Cell((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
    m.count[cell] += 1;
    m.red[cell] += r;
    m.green[cell] += g;
    m.blue[cell] += b;
    m.squares[cell] += static_cast<double>(r * r + g * g + b * b);
  }
}

// Turns the histogram into sums over every box from the origin to each cell.
void Accumulate(Moments& m) {
  for (int r = 1; r < kSide; ++r) {
    int64_t areaCount[kSide] = {}, areaRed[kSide] = {}, areaGreen[kSide] = {},
            areaBlue[kSide] = {};
    double areaSquares[kSide] = {};
    for (int g = 1; g < kSide; ++g) {
      int64_t lineCount = 0, lineRed = 0, lineGreen = 0, lineBlue = 0;
      double lineSquares = 0;
      for (int b = 1; b < kSide; ++b) {
        int cell = Cell(r, g, b);
        lineCount += m.count[cell];
        lineRed += m.red[cell];
        lineGreen += m.green[cell];
        lineBlue += m.blue[cell];
        lineSquares += m.squares[cell];
        areaCount[b] += lineCount;
        areaRed[b] += lineRed;
        areaGreen[b] += lineGreen;
        areaBlue[b] += lineBlue;
        areaSquares[b] += lineSquares;
        int below = Cell(r - 1, g, b);
        m.count[cell] = m.count[below] + areaCount[b];
        m.red[cell] = m.red[below] + areaRed[b];
        m.green[cell] = m.green[below] + areaGreen[b];
        m.blue[cell] = m.blue[below] + areaBlue[b];
        m.squares[cell] = m.squares[below] + areaSquares[b];
      }
    }
  }
}

template <class T>
T Volume(const Box& x, const std::vector<T>& v) {
  return v[Cell(x.r1, x.g1, x.b1)] - v[Cell(x.r1, x.g1, x.b0)] - v[Cell(x.r1, x.g0, x.b1)] +
         v[Cell(x.r1, x.g0, x.b0)] - v[Cell(x.r0, x.g1, x.b1)] + v[Cell(x.r0, x.g1, x.b0)] +
         v[Cell(x.r0, x.g0, x.b1)] - v[Cell(x.r0, x.g0, x.b0)];
}

BoxSums Sums(const Box& box, const Moments& m) {
  BoxSums s;
  s.count = Volume(box, m.count);
  s.red = Volume(box, m.red);
  s.green = Volume(box, m.green);
  s.blue = Volume(box, m.blue);
  s.squares = Volume(box, m.squares);
  return s;
}

double Variance(const Box& box, const Moments& m) {
  if (box.Volume() <= 1) return 0;
  BoxSums s = Sums(box, m);
  if (s.count == 0) return 0;
  return s.squares - s.Score();
}

enum Axis { kRed, kGreen, kBlue };

int& Lower(Box& box, Axis axis) { return axis == kRed ? box.r0 : axis == kGreen ? box.g0 : box.b0; }
int& Upper(Box& box, Axis axis) { return axis == kRed ? box.r1 : axis == kGreen ? box.g1 : box.b1; }

// The best cut of `box` on one axis: the position whose two halves score highest, halves
// without pixels skipped. Returns -1 when no position is valid.
int BestCut(const Box& box, Axis axis, const Moments& m, double& best) {
  best = 0;
  int cut = -1;
  Box lower = box, upper = box;
  int from = Lower(lower, axis), to = Upper(lower, axis);
  for (int position = from + 1; position < to; ++position) {
    Upper(lower, axis) = position;
    Lower(upper, axis) = position;
    BoxSums a = Sums(lower, m), b = Sums(upper, m);
    if (a.count == 0 || b.count == 0) continue;
    double score = a.Score() + b.Score();
    if (score > best) {
      best = score;
      cut = position;
    }
  }
  return cut;
}

bool Split(Box& box, Box& second, const Moments& m) {
  double bestRed, bestGreen, bestBlue;
  int cutRed = BestCut(box, kRed, m, bestRed);
  int cutGreen = BestCut(box, kGreen, m, bestGreen);
  int cutBlue = BestCut(box, kBlue, m, bestBlue);
  Axis axis;
  int cut;
  if (bestRed >= bestGreen && bestRed >= bestBlue) {
    axis = kRed;
    cut = cutRed;
  } else if (bestGreen >= bestBlue) {
    axis = kGreen;
    cut = cutGreen;
  } else {
    axis = kBlue;
    cut = cutBlue;
  }
  if (cut < 0) return false;
  second = box;
  Upper(box, axis) = cut;
  Lower(second, axis) = cut;
  return true;
}

}  // namespace

ColourPalette QuantiseColours(const PixelView& picture) {
  ColourPalette palette;
  if (picture.Empty()) return palette;
  Moments m;
  BuildHistogram(picture, m);
  Accumulate(m);

  Box boxes[kMaxColours];
  double variance[kMaxColours] = {};
  boxes[0].r1 = boxes[0].g1 = boxes[0].b1 = kSide - 1;
  int boxCount = kMaxColours;
  int next = 0;
  for (int i = 1; i < kMaxColours; ++i) {
    if (Split(boxes[next], boxes[i], m)) {
      variance[next] = Variance(boxes[next], m);
      variance[i] = Variance(boxes[i], m);
    } else {
      variance[next] = 0;
      --i;
    }
    next = 0;
    double largest = variance[0];
    for (int k = 1; k <= i; ++k) {
      if (variance[k] > largest) {
        largest = variance[k];
        next = k;
      }
    }
    if (largest <= 0) {
      boxCount = i + 1;
      break;
    }
  }

  for (int i = 0; i < boxCount; ++i) {
    BoxSums s = Sums(boxes[i], m);
    if (s.count == 0) continue;
    uint8_t* entry = palette.rgb[palette.count++];
    entry[0] = static_cast<uint8_t>(s.red / s.count);
    entry[1] = static_cast<uint8_t>(s.green / s.count);
    entry[2] = static_cast<uint8_t>(s.blue / s.count);
  }
  return palette;
}

PaletteMapper::PaletteMapper(const ColourPalette& palette)
    : palette_(palette), cache_(32768, static_cast<int16_t>(-1)) {}

uint8_t PaletteMapper::Index(uint8_t red, uint8_t green, uint8_t blue) {
  int cell = (red >> 3) + (green >> 3) * 32 + (blue >> 3) * 1024;
  int16_t& cached = cache_[cell];
  if (cached >= 0) return static_cast<uint8_t>(cached);
  int best = 0;
  int bestDistance = 1 << 30;
  for (int i = 0; i < palette_.count; ++i) {
    const uint8_t* entry = palette_.rgb[i];
    int distance = std::abs(entry[0] - red) + std::abs(entry[1] - green) + std::abs(entry[2] - blue);
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  cached = static_cast<int16_t>(best);
  return static_cast<uint8_t>(best);
}

}  // namespace qx
