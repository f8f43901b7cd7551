// Reading a BMP file back into a bitmap object: the system decodes every BMP variant an
// image editor may save, and the picture is copied into a bitmap object of its size.
#include "bitmap_win.h"

namespace qx {

TINVBitmap* LoadBmpFile(const std::string& fileName) {
  auto* loaded = static_cast<HBITMAP>(
      LoadImageA(nullptr, fileName.c_str(), IMAGE_BITMAP, 0, 0,
                 LR_LOADFROMFILE | LR_CREATEDIBSECTION));
  if (loaded == nullptr) return nullptr;
  BITMAP info{};
  TINVBitmap* bitmap = nullptr;
  if (GetObjectA(loaded, sizeof info, &info) == sizeof info && info.bmWidth > 0 &&
      info.bmHeight != 0) {
    bitmap = TINVBitmap::Create(info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight);
    HDC source = bitmap != nullptr ? CreateCompatibleDC(bitmap->DeviceContext()) : nullptr;
    if (source != nullptr) {
      HGDIOBJ old = SelectObject(source, loaded);
      BitBlt(bitmap->DeviceContext(), 0, 0, bitmap->PixelWidth(), bitmap->PixelHeight(), source,
             0, 0, SRCCOPY);
      GdiFlush();
      SelectObject(source, old);
      DeleteDC(source);
    } else if (bitmap != nullptr) {
      bitmap->Release();
      bitmap = nullptr;
    }
  }
  DeleteObject(loaded);
  return bitmap;
}

}  // namespace qx
