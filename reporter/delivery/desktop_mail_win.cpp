#include "desktop_mail_win.h"

#include <mapi.h>

#include "process_registries.h"
#include "report_hooks_win.h"

namespace qx {

namespace {

constexpr DWORD kBlockedLimitMs = 250;

bool IsTopmost(HWND window) {
  return window != nullptr && IsWindow(window) &&
         (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
}

void SetTopmost(HWND window, bool topmost) {
  SetWindowPos(window, topmost ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

// Lets a main thread the reporter's pause holds run for as long as the object lives.
class MainThreadLoan {
 public:
  MainThreadLoan() {
    auto lend = Hooks().lendMainThread;
    lent_ = lend != nullptr && lend(true);
  }
  ~MainThreadLoan() {
    auto lend = Hooks().lendMainThread;
    if (lent_ && lend != nullptr) lend(false);
  }
  MainThreadLoan(const MainThreadLoan&) = delete;
  MainThreadLoan& operator=(const MainThreadLoan&) = delete;

 private:
  bool lent_ = false;
};

// Releases the library when the call is over.
class LoadedLibrary {
 public:
  explicit LoadedLibrary(const char* name) : module_(LoadLibraryA(name)) {}
  ~LoadedLibrary() {
    if (module_ != nullptr) FreeLibrary(module_);
  }
  LoadedLibrary(const LoadedLibrary&) = delete;
  LoadedLibrary& operator=(const LoadedLibrary&) = delete;
  void* Find(const char* name) const {
    return module_ != nullptr ? reinterpret_cast<void*>(GetProcAddress(module_, name)) : nullptr;
  }

 private:
  HMODULE module_;
};

// The texts of the records stay here while MAPISendMail reads them.
struct MapiMessageParts {
  std::vector<MapiRecipient> recipients;
  std::vector<std::string> paths, names;
  std::string subject, body;
  std::vector<MapiRecipDesc> recipientRecords;
  std::vector<MapiFileDesc> fileRecords;
  MapiMessage message{};
};

char* Text(std::string& text) { return text.data(); }

void BuildMessage(MapiMessageParts& parts) {
  for (MapiRecipient& recipient : parts.recipients) {
    MapiRecipDesc record{};
    record.ulRecipClass = MAPI_TO;
    record.lpszName = Text(recipient.name);
    record.lpszAddress = Text(recipient.address);
    parts.recipientRecords.push_back(record);
  }
  for (size_t i = 0; i < parts.paths.size(); ++i) {
    MapiFileDesc record{};
    record.nPosition = 0xFFFFFFFF;
    record.lpszPathName = Text(parts.paths[i]);
    record.lpszFileName = i < parts.names.size() ? Text(parts.names[i]) : nullptr;
    parts.fileRecords.push_back(record);
  }
  MapiMessage& message = parts.message;
  message.lpszSubject = Text(parts.subject);
  message.lpszNoteText = Text(parts.body);
  message.nRecipCount = static_cast<ULONG>(parts.recipientRecords.size());
  message.lpRecips = parts.recipientRecords.empty() ? nullptr : parts.recipientRecords.data();
  message.nFileCount = static_cast<ULONG>(parts.fileRecords.size());
  message.lpFiles = parts.fileRecords.empty() ? nullptr : parts.fileRecords.data();
}

std::string RegisteredMailtoCommand() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_CLASSES_ROOT, "mailto\\shell\\open\\command", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return std::string();
  char value[261] = {};
  DWORD size = 260;
  DWORD type = 0;
  LONG read = RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
  RegCloseKey(key);
  if (read != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::string();
  value[size < sizeof value ? size : sizeof value - 1] = '\0';
  char expanded[MAX_PATH * 4] = {};
  DWORD length = ExpandEnvironmentStringsA(value, expanded, sizeof expanded);
  if (length == 0 || length > sizeof expanded) return value;
  return expanded;
}

}  // namespace

void DropTopmost(HWND window) {
  if (IsTopmost(window)) SetTopmost(window, false);
}

TopmostPause::TopmostPause(HWND window) {
  if (!IsTopmost(window)) return;
  window_ = window;
  SetTopmost(window_, false);
}

TopmostPause::~TopmostPause() {
  if (window_ != nullptr && IsWindow(window_)) SetTopmost(window_, true);
}

MailOutcome SendMapiMail(const std::string& recipients, const std::string& subject,
                         const std::string& body, bool hidden, HWND parent,
                         const std::vector<std::string>& sendAsNames,
                         const std::vector<std::string>& filePaths) {
  if (ProcessIsBlocked(kBlockedLimitMs)) return kMailFailed;
  LoadedLibrary mapi("mapi32.dll");
  auto send = reinterpret_cast<LPMAPISENDMAIL>(mapi.Find("MAPISendMail"));
  if (send == nullptr) return kMailFailed;

  MapiMessageParts parts;
  parts.recipients = MapiRecipients(recipients);
  parts.paths = filePaths;
  parts.names = sendAsNames;
  parts.subject = subject;
  parts.body = body;
  BuildMessage(parts);
  const FLAGS flags = MapiSendFlags(hidden, parts.recipients.size());

  ULONG result = MAPI_E_FAILURE;
  {
    TopmostPause topmost(parent);
    MainThreadLoan loan;
    result = send(0, reinterpret_cast<ULONG_PTR>(parent), &parts.message, flags, 0);
  }
  return MapiOutcome(result);
}

bool SendMailtoLink(const std::string& recipients, const std::string& subject,
                    const std::string& body) {
  const std::string registered = RegisteredMailtoCommand();
  if (registered.empty()) return false;
  std::string command =
      CutCommandLine(MailtoCommand(registered, MailtoLink(recipients, subject, body)));
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process))
    return false;
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
}

}  // namespace qx
