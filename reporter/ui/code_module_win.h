// The module that holds the reporter's window code: its windows' classes are registered
// there and its pictures looked up there when the settings' module has none.
#pragma once

#include <windows.h>

namespace qx {

inline HMODULE UiCodeModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
      reinterpret_cast<LPCSTR>(&UiCodeModule), &module);
  return module;
}

}  // namespace qx
