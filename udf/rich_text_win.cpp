// Plain text of a rich text through the rich-edit control of RICHED32.DLL.
#include <windows.h>
#include <richedit.h>

#include <mutex>

#include "platform.h"
#include "udf_failure.h"

namespace qx {

namespace {

// The control library is loaded by the first conversion and kept until the module
// unloads. The same lock serialises the conversions, as the control gives no promise
// about concurrent use.
std::mutex g_richEditLock;
HMODULE g_richEditLibrary = nullptr;

// Destroys a window on every path out of a conversion.
class ScopedWindow {
 public:
  explicit ScopedWindow(HWND window) : window_(window) {}
  ~ScopedWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
  }
  ScopedWindow(const ScopedWindow&) = delete;
  ScopedWindow& operator=(const ScopedWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

void EnsureLibraryLoaded() {
  if (g_richEditLibrary != nullptr) return;
  // A failed load leaves no handle; the next conversion tries again.
  g_richEditLibrary = LoadLibraryA("RICHED32.DLL");
  if (g_richEditLibrary == nullptr) throw RichTextFailure{"LoadLibrary(RICHED32.DLL)"};
}

}  // namespace

std::string RichTextToPlain(const std::string& richText) {
  std::lock_guard<std::mutex> lock(g_richEditLock);
  EnsureLibraryLoaded();

  ScopedWindow owner(CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                     nullptr, nullptr));
  if (owner.get() == nullptr) throw RichTextFailure{"CreateWindowEx(owner)"};
  ScopedWindow edit(CreateWindowExA(0, "RICHEDIT", "", WS_CHILD | ES_MULTILINE | ES_AUTOHSCROLL,
                                    0, 0, 0, 0, owner.get(), nullptr, nullptr, nullptr));
  if (edit.get() == nullptr) throw RichTextFailure{"CreateWindowEx(RICHEDIT)"};

  // No limit of our own on the amount of text, and no word wrap: in a window of no width
  // wrapping would lay out every character on a line of its own, which makes long texts
  // take quadratic time.
  SendMessageA(edit.get(), EM_EXLIMITTEXT, 0, 0x7ffffffe);
  SendMessageA(edit.get(), EM_SETTARGETDEVICE, 0, 1);
  SendMessageA(edit.get(), EM_SETSEL, static_cast<WPARAM>(-1), static_cast<LPARAM>(-1));
  // Replacing the selection through EM_SETTEXTEX makes the control parse rich text;
  // EM_REPLACESEL would insert the markup verbatim. The text is taken up to its first
  // zero byte.
  SETTEXTEX how = {ST_SELECTION, CP_ACP};
  SendMessageA(edit.get(), EM_SETTEXTEX, reinterpret_cast<WPARAM>(&how),
               reinterpret_cast<LPARAM>(richText.c_str()));

  const int length = GetWindowTextLengthA(edit.get());
  std::string plain;
  if (length > 0) {
    plain.resize(static_cast<size_t>(length) + 1);
    const int copied = GetWindowTextA(edit.get(), plain.data(), length + 1);
    plain.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  }
  return plain;
}

void ReleaseRichTextLibrary() {
  std::lock_guard<std::mutex> lock(g_richEditLock);
  if (g_richEditLibrary != nullptr) {
    FreeLibrary(g_richEditLibrary);
    g_richEditLibrary = nullptr;
  }
}

}  // namespace qx
