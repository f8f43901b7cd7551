#include "temp_folder_win.h"

#include <windows.h>

namespace qx {
namespace {

void EndWithBackslash(std::string& path) {
  if (!path.empty() && path.back() != '\\') path += '\\';
}

// The executable's file name without folder and extension.
std::string ProgramName() {
  char path[MAX_PATH + 1] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string name(path, length < MAX_PATH ? length : MAX_PATH);
  size_t slash = name.find_last_of("\\/");
  if (slash != std::string::npos) name.erase(0, slash + 1);
  size_t dot = name.rfind('.');
  if (dot != std::string::npos) name.erase(dot);
  return name;
}

}  // namespace

std::string ReporterTempFolder() {
  char buffer[MAX_PATH] = {};
  DWORD length = GetTempPathA(MAX_PATH, buffer);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string folder(buffer, length);
  CreateDirectoryA(folder.c_str(), nullptr);
  EndWithBackslash(folder);
  folder += ProgramName() + ".qelExcept";
  CreateDirectoryA(folder.c_str(), nullptr);
  EndWithBackslash(folder);
  return folder;
}

void ClearReporterTempFolder() {
  std::string folder = ReporterTempFolder();
  if (folder.empty()) return;
  WIN32_FIND_DATAA found{};
  HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) continue;
      std::string file = folder + found.cFileName;
      if (!DeleteFileA(file.c_str()) && (found.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(file.c_str());
      }
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  folder.pop_back();
  RemoveDirectoryA(folder.c_str());
}

}  // namespace qx
