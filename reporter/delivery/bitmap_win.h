// The bitmap object of the attachments: a 32-bit device-independent bitmap in a memory
// device context, reached through the reference-counted interface INVBitmap. Slot order is
// binary contract between reporter copies of a process.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "pixel_view.h"
#include "sync_win.h"

namespace qx {

inline constexpr GUID IID_INVBitmap = {
    0x3c9e51a0, 0x7d42, 0x4b18, {0x8e, 0x61, 0x0f, 0x2a, 0x95, 0xd3, 0x40, 0x5b}};

struct INVBitmap : public IUnknown {
  virtual int32_t __stdcall PixelWidth() = 0;
  virtual int32_t __stdcall PixelHeight() = 0;
  virtual void __stdcall Paint(HDC dc, int32_t x, int32_t y) = 0;
  virtual std::string __stdcall ToBmpBytes() = 0;
  // The PNG of a mode (PngModeForDepth); empty on failure. Modes that build the grey image
  // turn this bitmap's pixels grey for good.
  virtual std::string __stdcall ToPngBytes(uint8_t mode) = 0;
  virtual bool __stdcall WriteBmpFile(const std::string& fileName) = 0;
  virtual bool __stdcall WritePngFile(const std::string& fileName, uint8_t mode) = 0;
  // A new bitmap that fits the picture into width by height keeping its aspect ratio (a
  // new reference), or null.
  virtual INVBitmap* __stdcall Resample(int32_t width, int32_t height) = 0;
};

class TINVBitmap final : public INVBitmap {
 public:
  // A black bitmap of the size with one reference, or null.
  static TINVBitmap* Create(int32_t width, int32_t height);

  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override;
  ULONG __stdcall AddRef() override;
  ULONG __stdcall Release() override;

  int32_t __stdcall PixelWidth() override { return view_.width; }
  int32_t __stdcall PixelHeight() override { return view_.height; }
  void __stdcall Paint(HDC dc, int32_t x, int32_t y) override;
  std::string __stdcall ToBmpBytes() override;
  std::string __stdcall ToPngBytes(uint8_t mode) override;
  bool __stdcall WriteBmpFile(const std::string& fileName) override;
  bool __stdcall WritePngFile(const std::string& fileName, uint8_t mode) override;
  INVBitmap* __stdcall Resample(int32_t width, int32_t height) override;

  // The memory device context that holds the bitmap, for drawing into it.
  HDC DeviceContext() const { return dc_; }
  // The pixel memory; GDI drawing must be flushed (GdiFlush) before it is read.
  const PixelView& Pixels() const { return view_; }

 private:
  TINVBitmap() = default;
  ~TINVBitmap();

  std::atomic<ULONG> references_{1};
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ replaced_ = nullptr;
  PixelView view_;
  CriticalSection lock_;  // pixel conversions of one object, one at a time
};

// A bitmap object with the picture of a BMP file (one reference), or null when the file
// cannot be read as a bitmap.
TINVBitmap* LoadBmpFile(const std::string& fileName);

// Writes bytes into a file (created or overwritten); a failed or short write deletes it.
bool WriteWholeFile(const std::string& fileName, const std::string& bytes);

}  // namespace qx
