#include <winsock2.h>
#include <windows.h>
#ifndef SECURITY_WIN32
#define SECURITY_WIN32
#endif
#include <security.h>
#include <wincrypt.h>

#include <cstring>
#include <type_traits>

#include "delay_load_network_win.h"

namespace qx {

namespace {

// A stand-in must take its routine's place exactly: the callee removes the parameters, so
// a stand-in with other parameters or another calling convention would unbalance the stack.
#define QX_STANDS_IN_FOR(standIn, routine)                                     \
  static_assert(std::is_same_v<decltype(&standIn), decltype(&::routine)>,      \
                #standIn " does not have the parameters of " #routine)

// Winsock reports through WSAGetLastError, which is the thread's last error.
int WSAAPI NoWSAStartup(WORD, LPWSADATA data) {
  if (data != nullptr) std::memset(data, 0, sizeof *data);
  return WSASYSNOTREADY;  // the error itself, not the last error
}
int WSAAPI NoWSACleanup() {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoWSAGetLastError() { return static_cast<int>(GetLastError()); }
void WSAAPI NoWSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }
int WSAAPI NoWSAFDIsSet(SOCKET, fd_set*) { return 0; }
SOCKET WSAAPI NoSocket(int, int, int) {
  FailDelayLoadedCall();
  return INVALID_SOCKET;
}
int WSAAPI NoBind(SOCKET, const sockaddr*, int) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoConnect(SOCKET, const sockaddr*, int) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoCloseSocket(SOCKET) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoShutdown(SOCKET, int) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoGetSockOpt(SOCKET, int, int, char*, int*) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoSetSockOpt(SOCKET, int, int, const char*, int) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoIoctlSocket(SOCKET, long, u_long*) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoRecv(SOCKET, char*, int, int) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoRecvFrom(SOCKET, char*, int, int, sockaddr*, int*) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoSend(SOCKET, const char*, int, int) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoSendTo(SOCKET, const char*, int, int, const sockaddr*, int) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
int WSAAPI NoSelect(int, fd_set*, fd_set*, fd_set*, const PTIMEVAL) {
  FailDelayLoadedCall();
  return SOCKET_ERROR;
}
hostent* WSAAPI NoGetHostByName(const char*) {
  FailDelayLoadedCall();
  return nullptr;
}
unsigned long WSAAPI NoInetAddr(const char*) { return INADDR_NONE; }
// The byte-order routines cannot fail: their stand-ins do the work.
u_short WSAAPI NoHtons(u_short value) { return static_cast<u_short>((value >> 8) | (value << 8)); }
u_short WSAAPI NoNtohs(u_short value) { return NoHtons(value); }
u_long WSAAPI NoHtonl(u_long value) {
  return (value >> 24) | ((value >> 8) & 0xFF00u) | ((value << 8) & 0xFF0000u) | (value << 24);
}
u_long WSAAPI NoNtohl(u_long value) { return NoHtonl(value); }

QX_STANDS_IN_FOR(NoWSAStartup, WSAStartup);
QX_STANDS_IN_FOR(NoWSACleanup, WSACleanup);
QX_STANDS_IN_FOR(NoWSAGetLastError, WSAGetLastError);
QX_STANDS_IN_FOR(NoWSASetLastError, WSASetLastError);
QX_STANDS_IN_FOR(NoWSAFDIsSet, __WSAFDIsSet);
QX_STANDS_IN_FOR(NoSocket, socket);
QX_STANDS_IN_FOR(NoBind, bind);
QX_STANDS_IN_FOR(NoConnect, connect);
QX_STANDS_IN_FOR(NoCloseSocket, closesocket);
QX_STANDS_IN_FOR(NoShutdown, shutdown);
QX_STANDS_IN_FOR(NoGetSockOpt, getsockopt);
QX_STANDS_IN_FOR(NoSetSockOpt, setsockopt);
QX_STANDS_IN_FOR(NoIoctlSocket, ioctlsocket);
QX_STANDS_IN_FOR(NoRecv, recv);
QX_STANDS_IN_FOR(NoRecvFrom, recvfrom);
QX_STANDS_IN_FOR(NoSend, send);
QX_STANDS_IN_FOR(NoSendTo, sendto);
QX_STANDS_IN_FOR(NoSelect, select);
QX_STANDS_IN_FOR(NoGetHostByName, gethostbyname);
QX_STANDS_IN_FOR(NoInetAddr, inet_addr);
QX_STANDS_IN_FOR(NoHtons, htons);
QX_STANDS_IN_FOR(NoNtohs, ntohs);
QX_STANDS_IN_FOR(NoHtonl, htonl);
QX_STANDS_IN_FOR(NoNtohl, ntohl);

// The security support provider reports through its status.
SECURITY_STATUS SEC_ENTRY NoAcquireCredentialsHandleW(SEC_WCHAR*, SEC_WCHAR*, unsigned long,
                                                      void*, void*, SEC_GET_KEY_FN, void*,
                                                      PCredHandle, PTimeStamp) {
  return SEC_E_SECPKG_NOT_FOUND;
}
SECURITY_STATUS SEC_ENTRY NoInitializeSecurityContextW(PCredHandle, PCtxtHandle, SEC_WCHAR*,
                                                       unsigned long, unsigned long,
                                                       unsigned long, PSecBufferDesc,
                                                       unsigned long, PCtxtHandle,
                                                       PSecBufferDesc, unsigned long*,
                                                       PTimeStamp) {
  return SEC_E_INTERNAL_ERROR;
}
SECURITY_STATUS SEC_ENTRY NoDeleteSecurityContext(PCtxtHandle) { return SEC_E_INVALID_HANDLE; }
SECURITY_STATUS SEC_ENTRY NoFreeCredentialsHandle(PCredHandle) { return SEC_E_INVALID_HANDLE; }
SECURITY_STATUS SEC_ENTRY NoFreeContextBuffer(PVOID) { return SEC_E_INTERNAL_ERROR; }
SECURITY_STATUS SEC_ENTRY NoApplyControlToken(PCtxtHandle, PSecBufferDesc) {
  return SEC_E_INVALID_HANDLE;
}
SECURITY_STATUS SEC_ENTRY NoQueryContextAttributesW(PCtxtHandle, unsigned long, void*) {
  return SEC_E_INVALID_HANDLE;
}
SECURITY_STATUS SEC_ENTRY NoEncryptMessage(PCtxtHandle, unsigned long, PSecBufferDesc,
                                           unsigned long) {
  return SEC_E_INVALID_HANDLE;
}
SECURITY_STATUS SEC_ENTRY NoDecryptMessage(PCtxtHandle, PSecBufferDesc, unsigned long,
                                           unsigned long*) {
  return SEC_E_INVALID_HANDLE;
}

QX_STANDS_IN_FOR(NoAcquireCredentialsHandleW, AcquireCredentialsHandleW);
QX_STANDS_IN_FOR(NoInitializeSecurityContextW, InitializeSecurityContextW);
QX_STANDS_IN_FOR(NoDeleteSecurityContext, DeleteSecurityContext);
QX_STANDS_IN_FOR(NoFreeCredentialsHandle, FreeCredentialsHandle);
QX_STANDS_IN_FOR(NoFreeContextBuffer, FreeContextBuffer);
QX_STANDS_IN_FOR(NoApplyControlToken, ApplyControlToken);
QX_STANDS_IN_FOR(NoQueryContextAttributesW, QueryContextAttributesW);
QX_STANDS_IN_FOR(NoEncryptMessage, EncryptMessage);
QX_STANDS_IN_FOR(NoDecryptMessage, DecryptMessage);

// The certificate store: nothing opened, found, decoded or verified. A chain that cannot
// be built or checked is a certificate that is not trusted.
HCERTSTORE WINAPI NoCertOpenStore(LPCSTR, DWORD, HCRYPTPROV_LEGACY, DWORD, const void*) {
  FailDelayLoadedCall();
  return nullptr;
}
BOOL WINAPI NoCertCloseStore(HCERTSTORE, DWORD) {
  FailDelayLoadedCall();
  return FALSE;
}
BOOL WINAPI NoCertAddEncodedCertificateToStore(HCERTSTORE, DWORD, const BYTE*, DWORD, DWORD,
                                               PCCERT_CONTEXT* added) {
  if (added != nullptr) *added = nullptr;
  FailDelayLoadedCall();
  return FALSE;
}
BOOL WINAPI NoCertAddCertificateContextToStore(HCERTSTORE, PCCERT_CONTEXT, DWORD,
                                               PCCERT_CONTEXT* added) {
  if (added != nullptr) *added = nullptr;
  FailDelayLoadedCall();
  return FALSE;
}
PCCERT_CONTEXT WINAPI NoCertEnumCertificatesInStore(HCERTSTORE, PCCERT_CONTEXT) {
  FailDelayLoadedCall();
  return nullptr;
}
PCERT_EXTENSION WINAPI NoCertFindExtension(LPCSTR, DWORD, CERT_EXTENSION*) {
  FailDelayLoadedCall();
  return nullptr;
}
VOID WINAPI NoCertFreeCertificateChain(PCCERT_CHAIN_CONTEXT) {}
// Documented to return TRUE always; no context of the missing library can exist to free.
BOOL WINAPI NoCertFreeCertificateContext(PCCERT_CONTEXT) { return TRUE; }
BOOL WINAPI NoCertGetCertificateChain(HCERTCHAINENGINE, PCCERT_CONTEXT, LPFILETIME, HCERTSTORE,
                                      PCERT_CHAIN_PARA, DWORD, LPVOID,
                                      PCCERT_CHAIN_CONTEXT* chain) {
  if (chain != nullptr) *chain = nullptr;
  FailDelayLoadedCall();
  return FALSE;
}
BOOL WINAPI NoCertVerifyCertificateChainPolicy(LPCSTR, PCCERT_CHAIN_CONTEXT,
                                               PCERT_CHAIN_POLICY_PARA,
                                               PCERT_CHAIN_POLICY_STATUS status) {
  if (status != nullptr) status->dwError = static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
  FailDelayLoadedCall();
  return FALSE;
}
BOOL WINAPI NoCryptDecodeObjectEx(DWORD, LPCSTR, const BYTE*, DWORD, DWORD, PCRYPT_DECODE_PARA,
                                  void*, DWORD* size) {
  if (size != nullptr) *size = 0;
  FailDelayLoadedCall();
  return FALSE;
}
BOOL WINAPI NoCryptStringToBinaryA(LPCSTR, DWORD, DWORD, BYTE*, DWORD* size, DWORD* skip,
                                   DWORD* flags) {
  if (size != nullptr) *size = 0;
  if (skip != nullptr) *skip = 0;
  if (flags != nullptr) *flags = 0;
  FailDelayLoadedCall();
  return FALSE;
}

QX_STANDS_IN_FOR(NoCertOpenStore, CertOpenStore);
QX_STANDS_IN_FOR(NoCertCloseStore, CertCloseStore);
QX_STANDS_IN_FOR(NoCertAddEncodedCertificateToStore, CertAddEncodedCertificateToStore);
QX_STANDS_IN_FOR(NoCertAddCertificateContextToStore, CertAddCertificateContextToStore);
QX_STANDS_IN_FOR(NoCertEnumCertificatesInStore, CertEnumCertificatesInStore);
QX_STANDS_IN_FOR(NoCertFindExtension, CertFindExtension);
QX_STANDS_IN_FOR(NoCertFreeCertificateChain, CertFreeCertificateChain);
QX_STANDS_IN_FOR(NoCertFreeCertificateContext, CertFreeCertificateContext);
QX_STANDS_IN_FOR(NoCertGetCertificateChain, CertGetCertificateChain);
QX_STANDS_IN_FOR(NoCertVerifyCertificateChainPolicy, CertVerifyCertificateChainPolicy);
QX_STANDS_IN_FOR(NoCryptDecodeObjectEx, CryptDecodeObjectEx);
QX_STANDS_IN_FOR(NoCryptStringToBinaryA, CryptStringToBinaryA);

struct StandIn {
  const char* routine;
  void* standIn;
};

#define QX_STAND_IN(routine, standIn) {routine, reinterpret_cast<void*>(&standIn)}

const StandIn kNetworkStandIns[] = {
    QX_STAND_IN("WSAStartup", NoWSAStartup),
    QX_STAND_IN("WSACleanup", NoWSACleanup),
    QX_STAND_IN("WSAGetLastError", NoWSAGetLastError),
    QX_STAND_IN("WSASetLastError", NoWSASetLastError),
    QX_STAND_IN("__WSAFDIsSet", NoWSAFDIsSet),
    QX_STAND_IN("socket", NoSocket),
    QX_STAND_IN("bind", NoBind),
    QX_STAND_IN("connect", NoConnect),
    QX_STAND_IN("closesocket", NoCloseSocket),
    QX_STAND_IN("shutdown", NoShutdown),
    QX_STAND_IN("getsockopt", NoGetSockOpt),
    QX_STAND_IN("setsockopt", NoSetSockOpt),
    QX_STAND_IN("ioctlsocket", NoIoctlSocket),
    QX_STAND_IN("recv", NoRecv),
    QX_STAND_IN("recvfrom", NoRecvFrom),
    QX_STAND_IN("send", NoSend),
    QX_STAND_IN("sendto", NoSendTo),
    QX_STAND_IN("select", NoSelect),
    QX_STAND_IN("gethostbyname", NoGetHostByName),
    QX_STAND_IN("inet_addr", NoInetAddr),
    QX_STAND_IN("htons", NoHtons),
    QX_STAND_IN("ntohs", NoNtohs),
    QX_STAND_IN("htonl", NoHtonl),
    QX_STAND_IN("ntohl", NoNtohl),
    QX_STAND_IN("AcquireCredentialsHandleW", NoAcquireCredentialsHandleW),
    QX_STAND_IN("InitializeSecurityContextW", NoInitializeSecurityContextW),
    QX_STAND_IN("DeleteSecurityContext", NoDeleteSecurityContext),
    QX_STAND_IN("FreeCredentialsHandle", NoFreeCredentialsHandle),
    QX_STAND_IN("FreeContextBuffer", NoFreeContextBuffer),
    QX_STAND_IN("ApplyControlToken", NoApplyControlToken),
    QX_STAND_IN("QueryContextAttributesW", NoQueryContextAttributesW),
    QX_STAND_IN("EncryptMessage", NoEncryptMessage),
    QX_STAND_IN("DecryptMessage", NoDecryptMessage),
    QX_STAND_IN("CertOpenStore", NoCertOpenStore),
    QX_STAND_IN("CertCloseStore", NoCertCloseStore),
    QX_STAND_IN("CertAddEncodedCertificateToStore", NoCertAddEncodedCertificateToStore),
    QX_STAND_IN("CertAddCertificateContextToStore", NoCertAddCertificateContextToStore),
    QX_STAND_IN("CertEnumCertificatesInStore", NoCertEnumCertificatesInStore),
    QX_STAND_IN("CertFindExtension", NoCertFindExtension),
    QX_STAND_IN("CertFreeCertificateChain", NoCertFreeCertificateChain),
    QX_STAND_IN("CertFreeCertificateContext", NoCertFreeCertificateContext),
    QX_STAND_IN("CertGetCertificateChain", NoCertGetCertificateChain),
    QX_STAND_IN("CertVerifyCertificateChainPolicy", NoCertVerifyCertificateChainPolicy),
    QX_STAND_IN("CryptDecodeObjectEx", NoCryptDecodeObjectEx),
    QX_STAND_IN("CryptStringToBinaryA", NoCryptStringToBinaryA),
};

}  // namespace

void* NetworkDelayLoadStandIn(const char* routine) {
  for (const StandIn& entry : kNetworkStandIns)
    if (std::strcmp(entry.routine, routine) == 0) return entry.standIn;
  return nullptr;
}

}  // namespace qx
