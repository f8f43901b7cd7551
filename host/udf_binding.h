// QXUdfLib.dll loaded the way a server loads an external-function library: LoadLibrary,
// then every export bound by name with GetProcAddress.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "host_contract.h"

namespace qxhost {

struct UdfExports {
  int32_t(__cdecl* setbit)(const int32_t*, const int32_t*) = nullptr;
  int32_t(__cdecl* clearbit)(const int32_t*, const int32_t*) = nullptr;
  int32_t(__cdecl* checkbit)(const int32_t*, const int32_t*) = nullptr;
  int32_t(__cdecl* minvalue)(const int32_t*, const int32_t*) = nullptr;
  int32_t(__cdecl* maxvalue)(const int32_t*, const int32_t*) = nullptr;
  double(__cdecl* incday)(const double*, const int32_t*) = nullptr;
  int32_t(__cdecl* factbedragbetaald)(const int32_t*, const char*) = nullptr;
  int32_t(__cdecl* BoolStringToInt)(const char*) = nullptr;
  char*(__cdecl* inttocnk)(const int32_t*) = nullptr;
  char*(__cdecl* formatDouble)(const double*) = nullptr;
  char*(__cdecl* strReplace)(const char*, const char*, const char*) = nullptr;
  char*(__cdecl* GetBlobValue)(const BlobDescriptor*, const char*) = nullptr;
  BlobDescriptor*(__cdecl* TrimRTF)(const BlobDescriptor*, BlobDescriptor*) = nullptr;
  // 32-bit modules only: the reporter stays out of the 64-bit one.
  int32_t(__stdcall* qelTraceProcess)(int32_t) = nullptr;
};

class UdfLibrary {
 public:
  UdfLibrary() = default;
  ~UdfLibrary();
  UdfLibrary(const UdfLibrary&) = delete;
  UdfLibrary& operator=(const UdfLibrary&) = delete;

  // Loads the module and binds its exports (the thirteen functions, and qelTraceProcess in
  // a 32-bit build); on failure error() says what failed.
  bool Load(const std::string& path = "QXUdfLib.dll");
  void Unload();

  const UdfExports& fn() const { return exports_; }
  HMODULE module() const { return module_; }
  const std::string& error() const { return error_; }

 private:
  HMODULE module_ = nullptr;
  UdfExports exports_;
  std::string error_;
};

}  // namespace qxhost
