#include "picture_win.h"

#include <cstring>
#include <vector>

namespace qx {

namespace {

constexpr int kPictureSide = 32;
constexpr DWORD kPictureSize = 40 + kPictureSide * kPictureSide * 4;

}  // namespace

const uint8_t* Picture32Bytes(HMODULE module, const std::string& name) {
  if (name.empty()) return nullptr;
  HRSRC info = FindResourceA(module, name.c_str(), MAKEINTRESOURCEA(2));
  if (info == nullptr || SizeofResource(module, info) != kPictureSize) return nullptr;
  HGLOBAL loaded = LoadResource(module, info);
  return static_cast<const uint8_t*>(loaded != nullptr ? LockResource(loaded) : nullptr);
}

bool DrawPicture32(HDC dc, int x, int y, HMODULE module, const std::string& name) {
  const uint8_t* picture = Picture32Bytes(module, name);
  if (picture == nullptr) return false;
  BITMAPINFOHEADER header;
  std::memcpy(&header, picture, sizeof header);
  const uint8_t* pixels = picture + 40;
  COLORREF face = GetSysColor(COLOR_BTNFACE);
  const unsigned background[3] = {GetBValue(face), GetGValue(face), GetRValue(face)};
  std::vector<uint8_t> blended(kPictureSide * kPictureSide * 4);
  for (int i = 0; i < kPictureSide * kPictureSide; ++i) {
    unsigned a = pixels[4 * i + 3] + 1u;
    for (int c = 0; c < 3; ++c)
      blended[4 * i + c] =
          static_cast<uint8_t>(((256 - a) * background[c] + a * pixels[4 * i + c]) / 256);
    blended[4 * i + 3] = 0;
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kPictureSide;
  // The resource's row order (bottom-up for a positive height) is kept.
  info.bmiHeader.biHeight = header.biHeight < 0 ? -kPictureSide : kPictureSide;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  SetDIBitsToDevice(dc, x, y, kPictureSide, kPictureSide, 0, 0, 0, kPictureSide, blended.data(),
                    &info, DIB_RGB_COLORS);
  return true;
}

}  // namespace qx
