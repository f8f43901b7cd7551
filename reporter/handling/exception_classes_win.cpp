#include "exception_classes.h"

#include <windows.h>

namespace qx {

namespace {

constexpr uint32_t kSignature = 0x5145784Bu;  // "KxEQ"
const ExceptionClassInfo kTObject{"TObject", nullptr};

// Whether `size` bytes at `address` are committed and readable.
bool Readable(const void* address, size_t size) {
  auto at = reinterpret_cast<uintptr_t>(address);
  uintptr_t end = at + size;
  if (address == nullptr || end < at) return false;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) != sizeof info) return false;
    if (info.State != MEM_COMMIT) return false;
    DWORD protect = info.Protect & 0xFF;
    if ((info.Protect & PAGE_GUARD) != 0 || protect == PAGE_NOACCESS ||
        protect == PAGE_EXECUTE)
      return false;
    at = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
  }
  return true;
}

}  // namespace

const ExceptionClassInfo Exception::kClassInfo{"Exception", &kTObject};

Exception::Exception(std::string message) : signature_(kSignature), message_(std::move(message)) {}
Exception::Exception(const Exception& other)
    : std::exception(other), signature_(kSignature), message_(other.message_) {}
Exception& Exception::operator=(const Exception& other) {
  message_ = other.message_;
  return *this;
}
Exception::~Exception() { signature_ = 0; }

bool Exception::InheritsFrom(const std::string& className) const {
  for (const ExceptionClassInfo* info = &ClassInfo(); info != nullptr; info = info->parent)
    if (className == info->name) return true;
  return false;
}

const Exception* ValidException(const void* object) {
  if (!Readable(object, sizeof(Exception))) return nullptr;
  auto* candidate = static_cast<const Exception*>(object);
  if (candidate->signature_ != kSignature) return nullptr;
  // The class table the object points at must be readable too.
  const void* table = *static_cast<const void* const*>(object);
  if (!Readable(table, 4 * sizeof(void*))) return nullptr;
  return candidate;
}

std::string ExceptionClassName(const void* object) {
  const Exception* e = ValidException(object);
  return e != nullptr ? e->ClassName() : std::string();
}

bool ExceptionInheritsFrom(const void* object, const std::string& className) {
  const Exception* e = ValidException(object);
  return e != nullptr && e->InheritsFrom(className);
}

bool ExceptionMatchesAny(const void* object, const std::vector<std::string>& names) {
  const Exception* e = ValidException(object);
  if (e == nullptr) return false;
  for (const std::string& name : names)
    if (e->InheritsFrom(name)) return true;
  return false;
}

void DescribeExceptionObject(void* object, std::string& className, std::string& message) {
  const Exception* e = ValidException(object);
  if (e == nullptr) return;
  className = e->ClassName();
  message = e->Message();
}

}  // namespace qx
