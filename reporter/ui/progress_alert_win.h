// The small topmost window that shows the reporter's current step, an optional 32 x 32
// picture and the overall progress. It may be driven from a thread other than the one
// that shows it: position changes are then posted and closing goes through its own thread.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>
#include <string>

#include "com_ptr_win.h"

namespace qx {

inline constexpr GUID IID_IProgressAlert = {
    0x6d1f2a50, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x10}};

struct IProgressAlert : public IUnknown {
  virtual std::string __stdcall GetTitle() = 0;
  virtual void __stdcall SetTitle(const std::string& title) = 0;
  virtual int32_t __stdcall GetPosition() = 0;
  virtual void __stdcall SetPosition(int32_t position) = 0;  // 0..1000 within the area
  virtual void __stdcall AppendArea(const std::string& text, uint64_t weight) = 0;
  virtual void __stdcall ClearAreas() = 0;
  virtual void __stdcall AreaDone() = 0;
  virtual int32_t __stdcall GetCurrentArea() = 0;
  virtual void __stdcall SetCurrentArea(int32_t index) = 0;
  virtual void __stdcall ProcessMessages() = 0;
  // False when the window is already shown.
  virtual bool __stdcall Show(HWND parent, bool activate) = 0;
  virtual void __stdcall Close() = 0;
};

// A new progress window object (nothing is shown yet). The picture is the bitmap resource
// `pictureName` of `pictureModule`, used when it is 40 + 32 * 32 * 4 bytes long.
ComPtr<IProgressAlert> CreateProgressWindow(const std::string& title, HMODULE pictureModule,
                                            const std::string& pictureName);

// Window handles of a shown progress window, for tests and screenshots.
struct ProgressWindowParts {
  HWND window, picture, label, bar;
};
ProgressWindowParts ProgressWindowPartsOf(IProgressAlert* alert);

}  // namespace qx
