// libFuzzer target over the assistant forms' stream reader and the form model built from
// what it reads. A stream that reads must also apply, and applying keeps the page buttons.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "form_model.h"
#include "form_stream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes = "TPF0";
  bytes.append(reinterpret_cast<const char*>(data), size);
  qx::FormObject root;
  bool read = qx::ReadFormStream(bytes, root);
  qx::FormModel form = qx::EmptyFormModel("Fuzz");
  bool applied = qx::ApplyFormStream(bytes, form);
  if (read != applied) __builtin_trap();
  if (form.items.size() < qx::kPageButtonCount) __builtin_trap();
  for (const qx::FormItemModel& item : form.items) qx::ItemAllowsContinue(item, item.text);
  qx::IsAcceptableEmail(std::string_view(bytes).substr(4));
  return 0;
}
