// Whether a rich text shows anything, on Windows: our reader answers where it is sure,
// the rich-edit control of RICHED32.DLL everywhere else.
#include "rich_text_win.h"

#include <richedit.h>

#include <atomic>
#include <chrono>
#include <mutex>

#include "platform.h"
#include "rtf_plain_text.h"
#include "sql_functions.h"
#include "udf_failure.h"

namespace qx {

namespace {

// The control library is loaded once and kept until the module unloads. One lock
// serialises the control's conversions, as the control gives no promise about concurrent
// use; every wait for it is bounded, so a conversion stuck inside the control costs the
// others a failed call at worst, never a hung server thread.
std::timed_mutex g_controlLock;
std::atomic<HMODULE> g_richEditLibrary{nullptr};
std::atomic<DWORD> g_controlWaitMs{kDefaultControlWaitMs};
std::atomic<DWORD> g_unloadWaitMs{kDefaultUnloadWaitMs};

class ControlLock {
 public:
  explicit ControlLock(DWORD waitMs)
      : held_(g_controlLock.try_lock_for(std::chrono::milliseconds(waitMs))) {}
  ~ControlLock() {
    if (held_) g_controlLock.unlock();
  }
  ControlLock(const ControlLock&) = delete;
  ControlLock& operator=(const ControlLock&) = delete;
  bool held() const { return held_; }

 private:
  bool held_;
};

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

// Called with the control lock held.
void EnsureLibraryLoadedLocked() {
  if (g_richEditLibrary.load() != nullptr) return;
  // A failed load leaves no handle; the next conversion tries again.
  HMODULE library = LoadLibraryA("RICHED32.DLL");
  if (library == nullptr) throw RichTextFailure{"LoadLibrary(RICHED32.DLL)"};
  g_richEditLibrary.store(library);
}

// Every call needs the library, whether or not the control is asked: a library that
// cannot be loaded fails each call, as it always has.
void EnsureLibraryLoaded() {
  if (g_richEditLibrary.load() != nullptr) return;
  ControlLock lock(g_controlWaitMs.load());
  if (!lock.held()) throw RichTextFailure{"rich-edit control busy"};
  EnsureLibraryLoadedLocked();
}

}  // namespace

// The plain text through a hidden window and control made for this call only.
std::string RichTextToPlain(const std::string& richText) {
  ControlLock lock(g_controlWaitMs.load());
  if (!lock.held()) throw RichTextFailure{"rich-edit control busy"};
  EnsureLibraryLoadedLocked();

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

bool RichTextIsBlank(const std::string& richText, std::string* controlPlainText) {
  EnsureLibraryLoaded();
  switch (JudgeRichText(richText)) {
    case RtfVerdict::kBlank:
      return true;
    case RtfVerdict::kVisible:
      return false;
    case RtfVerdict::kUnsure:
      break;
  }
  std::string plain = RichTextToPlain(richText);
  const bool blank = !HasVisibleText(plain);
  if (controlPlainText != nullptr) *controlPlainText = std::move(plain);
  return blank;
}

bool ReleaseRichTextLibrary() {
  ControlLock lock(g_unloadWaitMs.load());
  if (!lock.held()) return false;
  HMODULE library = g_richEditLibrary.exchange(nullptr);
  if (library != nullptr) FreeLibrary(library);
  return true;
}

void SetRichTextWaitLimits(DWORD controlWaitMs, DWORD unloadWaitMs) {
  g_controlWaitMs.store(controlWaitMs);
  g_unloadWaitMs.store(unloadWaitMs);
}

}  // namespace qx
