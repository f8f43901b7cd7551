#include "udf_binding.h"

namespace qxhost {

UdfLibrary::~UdfLibrary() { Unload(); }

bool UdfLibrary::Load(const std::string& path) {
  Unload();
  module_ = LoadLibraryA(path.c_str());
  if (module_ == nullptr) {
    error_ = "LoadLibrary(" + path + ") failed, error " + std::to_string(GetLastError());
    return false;
  }
  bool ok = true;
  auto bind = [&](auto& slot, const char* name) {
    FARPROC proc = GetProcAddress(module_, name);
    if (proc == nullptr) {
      error_ += std::string(error_.empty() ? "" : ", ") + "missing export " + name;
      ok = false;
    }
    slot = reinterpret_cast<std::remove_reference_t<decltype(slot)>>(
        reinterpret_cast<void*>(proc));
  };
  bind(exports_.setbit, "fn_setbit");
  bind(exports_.clearbit, "fn_clearbit");
  bind(exports_.checkbit, "fn_checkbit");
  bind(exports_.minvalue, "fn_minvalue");
  bind(exports_.maxvalue, "fn_maxvalue");
  bind(exports_.incday, "fn_incday");
  bind(exports_.factbedragbetaald, "fn_factbedragbetaald");
  bind(exports_.BoolStringToInt, "fn_BoolStringToInt");
  bind(exports_.inttocnk, "fn_inttocnk");
  bind(exports_.formatDouble, "fn_formatDouble");
  bind(exports_.strReplace, "fn_strReplace");
  bind(exports_.GetBlobValue, "fn_GetBlobValue");
  bind(exports_.TrimRTF, "fn_TrimRTF");
#if !defined(_WIN64)
  // The 64-bit module carries no reporter, so only the 32-bit one exports it.
  bind(exports_.qelTraceProcess, "qelTraceProcess");
#endif
  if (!ok) Unload();
  return ok;
}

void UdfLibrary::Unload() {
  if (module_ != nullptr) FreeLibrary(module_);
  module_ = nullptr;
  exports_ = UdfExports{};
}

}  // namespace qxhost
