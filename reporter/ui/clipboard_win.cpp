#include "clipboard_win.h"

#include <windows.h>

#include <cstring>

namespace qx {

bool CopyTextToClipboard(const std::string& text) {
  bool opened = false;
  for (int attempt = 0; attempt < 20 && !opened; ++attempt) {
    opened = OpenClipboard(nullptr) != 0;
    if (!opened) Sleep(10);
  }
  if (!opened) return false;
  bool done = false;
  EmptyClipboard();
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1)) {
    if (void* bytes = GlobalLock(memory)) {
      std::memcpy(bytes, text.c_str(), text.size() + 1);
      GlobalUnlock(memory);
      done = SetClipboardData(CF_TEXT, memory) != nullptr;
    }
    if (!done) GlobalFree(memory);
  }
  CloseClipboard();
  return done;
}

}  // namespace qx
