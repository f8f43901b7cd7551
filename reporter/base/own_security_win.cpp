#include "own_security_win.h"

namespace qx {

OwnProcessSecurity::OwnProcessSecurity() { built_ = Build(); }

bool OwnProcessSecurity::Build() {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
    return false;
  DWORD needed = 0;
  BOOL haveUser = GetTokenInformation(token, TokenUser, user_, sizeof user_, &needed);
  CloseHandle(token);
  if (!haveUser) return false;
  PSID user = reinterpret_cast<TOKEN_USER*>(user_)->User.Sid;
  DWORD systemSize = sizeof system_;
  if (!CreateWellKnownSid(WinLocalSystemSid, nullptr, system_, &systemSize)) return false;
  auto acl = reinterpret_cast<ACL*>(acl_);
  if (!InitializeAcl(acl, sizeof acl_, ACL_REVISION) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, user) ||
      !AddAccessAllowedAce(acl, ACL_REVISION, GENERIC_ALL, system_))
    return false;
  if (!InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
      !SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE))
    return false;
  attributes_ = SECURITY_ATTRIBUTES{sizeof attributes_, &descriptor_, FALSE};
  return true;
}

}  // namespace qx
