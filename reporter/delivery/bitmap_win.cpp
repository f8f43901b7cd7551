#include "bitmap_win.h"

#include <new>

#include "image_files.h"
#include "resample.h"

namespace qx {

TINVBitmap* TINVBitmap::Create(int32_t width, int32_t height) {
  // The pixel memory must stay addressable in a 32-bit process.
  if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > (INT32_MAX / 4))
    return nullptr;
  TINVBitmap* object = new (std::nothrow) TINVBitmap();
  if (object == nullptr) return nullptr;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;  // positive: the bottom row comes first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4;
  void* bits = nullptr;
  object->dc_ = CreateCompatibleDC(nullptr);
  if (object->dc_ != nullptr)
    object->bitmap_ = CreateDIBSection(object->dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (object->bitmap_ == nullptr || bits == nullptr) {
    object->Release();
    return nullptr;
  }
  object->replaced_ = SelectObject(object->dc_, object->bitmap_);
  object->view_ = {width, height, static_cast<uint8_t*>(bits)};
  return object;
}

TINVBitmap::~TINVBitmap() {
  if (dc_ != nullptr && replaced_ != nullptr) SelectObject(dc_, replaced_);
  if (bitmap_ != nullptr) DeleteObject(bitmap_);
  if (dc_ != nullptr) DeleteDC(dc_);
}

HRESULT __stdcall TINVBitmap::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_INVBitmap)) {
    *object = static_cast<INVBitmap*>(this);
    AddRef();
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

ULONG __stdcall TINVBitmap::AddRef() { return ++references_; }

ULONG __stdcall TINVBitmap::Release() {
  ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

void __stdcall TINVBitmap::Paint(HDC dc, int32_t x, int32_t y) {
  if (dc == nullptr) return;
  CriticalSectionGuard guard(lock_);
  BitBlt(dc, x, y, view_.width, view_.height, dc_, 0, 0, SRCCOPY);
}

std::string __stdcall TINVBitmap::ToBmpBytes() {
  CriticalSectionGuard guard(lock_);
  GdiFlush();
  return BmpBytes(view_);
}

std::string __stdcall TINVBitmap::ToPngBytes(uint8_t mode) {
  CriticalSectionGuard guard(lock_);
  GdiFlush();
  return PngBytes(view_, mode);
}

bool __stdcall TINVBitmap::WriteBmpFile(const std::string& fileName) {
  std::string bytes = ToBmpBytes();
  return !bytes.empty() && WriteWholeFile(fileName, bytes);
}

bool __stdcall TINVBitmap::WritePngFile(const std::string& fileName, uint8_t mode) {
  std::string bytes = ToPngBytes(mode);
  return !bytes.empty() && WriteWholeFile(fileName, bytes);
}

INVBitmap* __stdcall TINVBitmap::Resample(int32_t width, int32_t height) {
  PictureSize size = ResampleSize({view_.width, view_.height}, {width, height});
  TINVBitmap* result = Create(size.width, size.height);
  if (result == nullptr) return nullptr;
  try {
    CriticalSectionGuard guard(lock_);
    GdiFlush();
    ResamplePixels(view_, result->view_);
  } catch (...) {
    result->Release();
    return nullptr;
  }
  return result;
}

bool WriteWholeFile(const std::string& fileName, const std::string& bytes) {
  HANDLE file = CreateFileA(fileName.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  ok = CloseHandle(file) && ok;
  if (!ok) DeleteFileA(fileName.c_str());
  return ok;
}

}  // namespace qx
