#include "report_file_win.h"

#include <commdlg.h>
#include <shlobj.h>

#include <vector>

#include "com_ptr_win.h"
#include "field_items.h"
#include "header_values_win.h"
#include "report_file_core.h"
#include "report_hooks_win.h"
#include "settings_open_win.h"
#include "sync_win.h"

namespace qx {

namespace {

constexpr DWORD kOpenRetryMs = 5000;
constexpr DWORD kOpenRetryStepMs = 20;

std::string FolderOf(const std::string& path) {
  size_t slash = path.find_last_of('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string FileNameWithoutExtension(const std::string& path) {
  std::string name = path.substr(path.find_last_of('\\') + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

void ReplaceIgnoringCase(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at = 0; at + from.size() <= text.size();) {
    if (SameTextIgnoringCase(text.substr(at, from.size()), from)) {
      text.replace(at, from.size(), to);
      at += to.size();
    } else {
      ++at;
    }
  }
}

bool ReadWhole(HANDLE file, std::string& content, DWORD size) {
  content.assign(size, '\0');
  DWORD done = 0;
  if (SetFilePointer(file, 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER) return false;
  while (done < size) {
    DWORD got = 0;
    if (!ReadFile(file, content.data() + done, size - done, &got, nullptr) || got == 0) return false;
    done += got;
  }
  return true;
}

bool WriteWhole(HANDLE file, const std::string& data) {
  size_t done = 0;
  while (done < data.size()) {
    DWORD wrote = 0;
    DWORD chunk = static_cast<DWORD>(data.size() - done);
    if (!WriteFile(file, data.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

// Opens the file for reading and writing, shared with nobody. Another save holding it open
// is waited for instead of losing this report.
HANDLE OpenExclusive(const std::string& path) {
  DWORD waited = 0;
  for (;;) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    DWORD error = GetLastError();
    bool inUse = error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION;
    if (!inUse || waited >= kOpenRetryMs) return INVALID_HANDLE_VALUE;
    Sleep(kOpenRetryStepMs);
    waited += kOpenRetryStepMs;
  }
}

bool AskForFileName(std::string& path, HWND parent, IKVSettings* settings) {
  if (ProcessIsBlocked(250)) {
    MessageBeep(MB_OK);
    return false;
  }
  std::string folder = path.find('\\') == std::string::npos ? DesktopFolder() : FolderOf(path);
  char file[261] = {};
  std::string name = path.substr(path.find_last_of('\\') + 1);
  lstrcpynA(file, name.c_str(), 261);
  std::string title = settings != nullptr ? settings->GetSaveBtnTxt() : std::string();
  static const char kFilter[] = "*.txt\0*.txt\0";
  OPENFILENAMEA dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = parent;
  dialog.lpstrFilter = kFilter;
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = file;
  dialog.nMaxFile = 260;
  dialog.lpstrInitialDir = folder.c_str();
  dialog.lpstrTitle = title.c_str();
  dialog.lpstrDefExt = "txt";
  dialog.Flags = OFN_HIDEREADONLY | OFN_NOREADONLYRETURN;
  if (!GetSaveFileNameA(&dialog)) return false;
  path = file;
  return true;
}

}  // namespace

std::string ReportFileName(IKVSettings* settings) {
  if (settings == nullptr) return {};
  std::string name = settings->GetBugRepFile();
  ReplaceIgnoringCase(name, "%appname%", FileNameWithoutExtension(ModuleFileName(nullptr)));
  ReplaceIgnoringCase(name, "%modname%", FileNameWithoutExtension(ModuleFileName(ReporterModule())));
  return name;
}

bool CreateFolderPath(const std::string& filePath) {
  std::string folder = FolderOf(filePath);
  if (!folder.empty() && folder.back() == '\\') folder.pop_back();
  if (folder.empty()) return true;
  DWORD attributes = GetFileAttributesA(folder.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) return true;
  if (folder.size() <= 2 || !CreateFolderPath(folder)) return false;
  return CreateDirectoryA(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

std::string DesktopFolder() {
  char path[MAX_PATH] = {};
  if (SHGetSpecialFolderPathA(nullptr, path, CSIDL_DESKTOPDIRECTORY, TRUE) && path[0] != 0) {
    std::string folder = path;
    if (folder.back() != '\\') folder += '\\';
    return folder;
  }
  return FolderOf(ModuleFileName(nullptr));
}

bool SaveReportFile(const std::string& explicitName, const std::string& reportText, HWND parent,
                    IKVSettings* settings, bool silent) {
  try {
    std::string path = explicitName;
    if (path.empty()) {
      path = ReportFileName(settings);
      if (silent) {
        path = AbsoluteReportPath(path, FolderOf(ModuleFileName(nullptr)));
      } else if (!AskForFileName(path, parent, settings)) {
        return false;
      }
    }
    CreateFolderPath(path);
    ScopedHandle file(OpenExclusive(path));
    if (!file.Valid()) return false;

    std::string report = reportText;
    bool append = settings == nullptr || settings->GetAppendBugReps();
    DWORD size = 0;
    if (append) {
      size = GetFileSize(file.Get(), nullptr);
      if (size == INVALID_FILE_SIZE) size = 0;
      std::string key;
      if (size > 0 && settings != nullptr) {
        DuplicateRules rules{settings->GetNoDupExcepts(), settings->GetDupExceptDef(),
                             settings->GetNoDupFreezes(), settings->GetDupFreezeDef()};
        key = DuplicateKey(report, rules);
      }
      uint32_t limit = settings != nullptr ? settings->GetBugRepFileSize() : 0;
      bool trim = limit != 0 && limit < size;
      std::string content;
      // The content is rebuilt in memory and written back only when something changed, so
      // a failed read leaves the file as it is and the report is still appended.
      if ((trim || !key.empty()) && ReadWhole(file.Get(), content, size)) {
        bool changed = RemoveDuplicate(content, report, key);
        if (trim) changed = TrimReports(content, limit) || changed;
        if (changed) {
          if (SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
            return false;
          content += report + "\r\n\r\n";
          if (!WriteWhole(file.Get(), content)) return false;
          SetEndOfFile(file.Get());
          report.clear();
          size = static_cast<DWORD>(content.size());
        }
      }
    }
    if (!report.empty() || !append) {
      if (SetFilePointer(file.Get(), static_cast<LONG>(size), nullptr, FILE_BEGIN) ==
          INVALID_SET_FILE_POINTER)
        return false;
      if (!WriteWhole(file.Get(), report + "\r\n\r\n")) return false;
      SetEndOfFile(file.Get());
    }
    if (explicitName.empty() && silent && settings != nullptr) {
      ComPtr<IKVExceptionEx> ex;
      if (settings->QueryInterface(IID_IKVExceptionEx, reinterpret_cast<void**>(ex.Receive())) ==
              S_OK &&
          ex)
        ex->SetAutoSaved(true);
    }
    return true;
  } catch (...) {
    return false;
  }
}

bool AppendReportFileLine(IKVSettings* settings, const std::string& line) {
  if (settings == nullptr) return false;
  try {
    std::string path =
        AbsoluteReportPath(ReportFileName(settings), FolderOf(ModuleFileName(nullptr)));
    // Without settings the line is only appended: no duplicate search, no trimming.
    return SaveReportFile(path, line, nullptr, nullptr, true);
  } catch (...) {
    return false;
  }
}

void AutoSaveCheck(IKVException* exception) {
  if (exception == nullptr) return;
  try {
    if (!exception->GetAutoSave()) return;
    ComPtr<IKVExceptionEx> ex;
    if (exception->QueryInterface(IID_IKVExceptionEx, reinterpret_cast<void**>(ex.Receive())) !=
            S_OK ||
        !ex)
      return;
    if (exception->GetAutoSaveIfNotSent() && ex->Sent()) return;
    if (!ex->IsFirstAutoSave()) return;
    bool handled = Hooks().fireActionHandlers != nullptr &&
                   Hooks().fireActionHandlers(kActionSave, exception, nullptr);
    if (!handled)
      SaveReportFile(std::string(), exception->GetReportText(true), nullptr, exception, true);
  } catch (...) {
  }
}

}  // namespace qx
