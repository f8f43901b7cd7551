// Our own mapi32.dll, written from the published MAPISendMail declaration. It writes what
// it received into the file named by QX_MAPI_RECORD, one "name: value" line each (file
// records with the size and first line of the file, read during the call), and returns
// the number in QX_MAPI_RESULT (0 success, 1 user abort, 2 failure; 2 when unset). With
// QX_MAPI_WAIT it first waits, at most 60 seconds, for the named event; with QX_MAPI_KEEP
// it copies every attached file into that folder (which ends in a backslash); with
// QX_MAPI_DONE it sets that named event when it has recorded.
#include <windows.h>
#include <mapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Environment(const char* name) {
  char value[1024];
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string Quoted(const char* text) {
  return text == nullptr ? "(null)" : "\"" + std::string(text) + "\"";
}

std::string FileFacts(const char* path) {
  if (path == nullptr) return "missing";
  FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return "missing";
  std::string data;
  char buffer[4096];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) data.append(buffer, got);
  std::fclose(file);
  size_t end = data.find_first_of("\r\n");
  std::string first = data.substr(0, end == std::string::npos ? 60 : end);
  if (first.size() > 60) first.resize(60);
  for (char& c : first)
    if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '.';
  return std::to_string(data.size()) + " bytes, first line \"" + first + "\"";
}

std::string Describe(ULONG_PTR parent, lpMapiMessage message, FLAGS flags) {
  std::string text = "flags: " + std::to_string(flags) + "\n";
  HWND window = reinterpret_cast<HWND>(parent);
  if (window == nullptr) {
    text += "parent window: none\n";
  } else {
    bool topmost = (GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    text += std::string("parent window: set, ") + (topmost ? "topmost" : "not topmost") + "\n";
  }
  text += "subject: " + Quoted(message->lpszSubject) + "\n";
  text += "note text: " + Quoted(message->lpszNoteText) + "\n";
  text += "recipients: " + std::to_string(message->nRecipCount) + "\n";
  for (ULONG i = 0; i < message->nRecipCount; ++i) {
    const MapiRecipDesc& r = message->lpRecips[i];
    text += "recipient " + std::to_string(i + 1) + ": class " + std::to_string(r.ulRecipClass) +
            ", name " + Quoted(r.lpszName) + ", address " + Quoted(r.lpszAddress) + "\n";
  }
  text += "files: " + std::to_string(message->nFileCount) + "\n";
  for (ULONG i = 0; i < message->nFileCount; ++i) {
    const MapiFileDesc& f = message->lpFiles[i];
    text += "file " + std::to_string(i + 1) + ": position " +
            std::to_string(static_cast<long>(f.nPosition)) + ", name " + Quoted(f.lpszFileName) +
            ", path " + Quoted(f.lpszPathName) + ", " + FileFacts(f.lpszPathName) + "\n";
  }
  return text;
}

}  // namespace

extern "C" __declspec(dllexport) ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR parent,
                                                           lpMapiMessage message, FLAGS flags,
                                                           ULONG reserved) {
  (void)session;
  (void)reserved;
  const std::string wait = Environment("QX_MAPI_WAIT");
  if (!wait.empty()) {
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, wait.c_str());
    if (event != nullptr) {
      WaitForSingleObject(event, 60000);
      CloseHandle(event);
    }
  }
  const std::string record = Environment("QX_MAPI_RECORD");
  if (!record.empty() && message != nullptr) {
    std::string text = Describe(parent, message, flags);
    FILE* file = std::fopen(record.c_str(), "ab");
    if (file != nullptr) {
      std::fwrite(text.data(), 1, text.size(), file);
      std::fclose(file);
    }
  }
  const std::string keep = Environment("QX_MAPI_KEEP");
  for (ULONG i = 0; !keep.empty() && message != nullptr && i < message->nFileCount; ++i) {
    std::string path = message->lpFiles[i].lpszPathName;
    CopyFileA(path.c_str(), (keep + path.substr(path.find_last_of('\\') + 1)).c_str(), FALSE);
  }
  const std::string done = Environment("QX_MAPI_DONE");
  if (!done.empty()) {
    HANDLE event = OpenEventA(EVENT_MODIFY_STATE, FALSE, done.c_str());
    if (event != nullptr) {
      SetEvent(event);
      CloseHandle(event);
    }
  }
  const std::string result = Environment("QX_MAPI_RESULT");
  return result.empty() ? 2 : static_cast<ULONG>(std::strtoul(result.c_str(), nullptr, 10));
}
