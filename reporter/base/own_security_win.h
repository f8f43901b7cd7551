// Security attributes for the named objects that only this process needs.
//
// Their names carry the process id and are easy to guess. With a null DACL any local
// account could open such an object and, for a mutex, hold it, so that every wait of the
// reporter on it (some inside the loader lock of a server thread) would never end. The
// DACL built here admits the process's own user and SYSTEM, and nobody else.
#pragma once

#include <windows.h>

namespace qx {

class OwnProcessSecurity {
 public:
  OwnProcessSecurity();
  OwnProcessSecurity(const OwnProcessSecurity&) = delete;
  OwnProcessSecurity& operator=(const OwnProcessSecurity&) = delete;

  // The attributes to create an object with (not inheritable); null when the DACL could
  // not be built, so that the object gets the token's default DACL, never a null one.
  SECURITY_ATTRIBUTES* Attributes() { return built_ ? &attributes_ : nullptr; }

 private:
  bool Build();

  bool built_ = false;
  SECURITY_ATTRIBUTES attributes_{};
  SECURITY_DESCRIPTOR descriptor_{};
  // The token's user, SYSTEM, and the list that admits both; fixed sizes, no heap.
  alignas(DWORD) BYTE user_[SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER)]{};
  alignas(DWORD) BYTE system_[SECURITY_MAX_SID_SIZE]{};
  alignas(DWORD) BYTE acl_[sizeof(ACL) + 2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)]{};
};

}  // namespace qx
