#include "certificate_check_win.h"

#include <vector>

namespace qx {

namespace {

// More than any sensible set of private roots; a larger file is not read.
constexpr DWORD kMaxTrustFileBytes = 256 * 1024;
// SECURITY_FLAG_IGNORE_UNKNOWN_CA of wininet.h, which we do not otherwise need.
constexpr DWORD kIgnoreUnknownCa = 0x00000100;

class StoreHandle {
 public:
  explicit StoreHandle(HCERTSTORE store) : store_(store) {}
  ~StoreHandle() {
    if (store_ != nullptr) CertCloseStore(store_, 0);
  }
  StoreHandle(const StoreHandle&) = delete;
  StoreHandle& operator=(const StoreHandle&) = delete;
  HCERTSTORE get() const { return store_; }

 private:
  HCERTSTORE store_;
};

class ChainHandle {
 public:
  ChainHandle() = default;
  ~ChainHandle() {
    if (chain_ != nullptr) CertFreeCertificateChain(chain_);
  }
  ChainHandle(const ChainHandle&) = delete;
  ChainHandle& operator=(const ChainHandle&) = delete;
  PCCERT_CHAIN_CONTEXT* out() { return &chain_; }
  PCCERT_CHAIN_CONTEXT get() const { return chain_; }

 private:
  PCCERT_CHAIN_CONTEXT chain_ = nullptr;
};

std::string ReadSmallFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string text;
  const DWORD size = GetFileSize(file, nullptr);
  if (size != INVALID_FILE_SIZE && size > 0 && size <= kMaxTrustFileBytes) {
    text.resize(size);
    DWORD read = 0;
    if (!ReadFile(file, &text[0], size, &read, nullptr) || read != size) text.clear();
  }
  CloseHandle(file);
  return text;
}

void AddEncoded(HCERTSTORE store, const BYTE* data, DWORD size) {
  CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, data, size, CERT_STORE_ADD_USE_EXISTING,
                                   nullptr);
}

// Every "BEGIN CERTIFICATE" block of a PEM file, or the whole file as one DER certificate.
void AddTrustFile(HCERTSTORE store, const std::string& text) {
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  if (text.find(kBegin) == std::string::npos) {
    if (!text.empty()) AddEncoded(store, reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()));
    return;
  }
  size_t at = 0;
  while ((at = text.find(kBegin, at)) != std::string::npos) {
    const size_t end = text.find(kEnd, at);
    if (end == std::string::npos) return;
    const std::string block = text.substr(at, end + sizeof kEnd - 1 - at);
    DWORD size = 0;
    if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                             nullptr, &size, nullptr, nullptr) &&
        size > 0) {
      std::vector<BYTE> der(size);
      if (CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER,
                               der.data(), &size, nullptr, nullptr)) {
        AddEncoded(store, der.data(), size);
      }
    }
    at = end;
  }
}

bool SameCertificate(PCCERT_CONTEXT a, PCCERT_CONTEXT b) {
  return a->cbCertEncoded == b->cbCertEncoded &&
         memcmp(a->pbCertEncoded, b->pbCertEncoded, a->cbCertEncoded) == 0;
}

// The root the chain ends at is one of the trust file's certificates, byte for byte.
bool EndsAtAnchor(PCCERT_CHAIN_CONTEXT chain, HCERTSTORE anchors) {
  if (chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) return false;
  const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
  PCCERT_CONTEXT root = simple->rgpElement[simple->cElement - 1]->pCertContext;
  PCCERT_CONTEXT anchor = nullptr;
  while ((anchor = CertEnumCertificatesInStore(anchors, anchor)) != nullptr) {
    if (SameCertificate(root, anchor)) {
      CertFreeCertificateContext(anchor);
      return true;
    }
  }
  return false;
}

// A dotted address among the leaf's subject alternative names (iPAddress entries), which
// not every system's SSL policy compares.
bool IssuedForAddress(PCCERT_CHAIN_CONTEXT chain, const std::wstring& hostName) {
  std::string narrow;
  for (wchar_t c : hostName) {
    if (c != L'.' && (c < L'0' || c > L'9')) return false;
    narrow.push_back(static_cast<char>(c));
  }
  const unsigned long address = inet_addr(narrow.c_str());
  if (narrow.empty() || address == INADDR_NONE || chain->cChain == 0 || chain->rgpChain[0]->cElement == 0) {
    return false;
  }
  PCCERT_CONTEXT leaf = chain->rgpChain[0]->rgpElement[0]->pCertContext;
  const CERT_EXTENSION* names = CertFindExtension(szOID_SUBJECT_ALT_NAME2, leaf->pCertInfo->cExtension,
                                                  leaf->pCertInfo->rgExtension);
  if (names == nullptr) return false;
  CERT_ALT_NAME_INFO* info = nullptr;
  DWORD size = 0;
  if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, names->Value.pbData, names->Value.cbData,
                           CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size)) {
    return false;
  }
  bool found = false;
  for (DWORD i = 0; i < info->cAltEntry && !found; ++i) {
    const CERT_ALT_NAME_ENTRY& entry = info->rgAltEntry[i];
    found = entry.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS && entry.IPAddress.cbData == 4 &&
            memcmp(entry.IPAddress.pbData, &address, 4) == 0;
  }
  LocalFree(info);
  return found;
}

LONG SslPolicyStatus(PCCERT_CHAIN_CONTEXT chain, const wchar_t* hostName, DWORD ignoredChecks) {
  SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
  ssl.cbSize = sizeof ssl;
  ssl.dwAuthType = AUTHTYPE_SERVER;
  ssl.fdwChecks = ignoredChecks;
  ssl.pwszServerName = const_cast<wchar_t*>(hostName);
  CERT_CHAIN_POLICY_PARA para{};
  para.cbSize = sizeof para;
  para.pvExtraPolicyPara = &ssl;
  CERT_CHAIN_POLICY_STATUS status{};
  status.cbSize = sizeof status;
  if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &para, &status)) {
    return CERT_E_CHAINING;
  }
  return status.dwError;
}

// The SSL policy for `hostName`; an address the policy did not match by name is matched
// against the leaf's address entries, and then everything but the name is still checked.
LONG NamedPolicyStatus(PCCERT_CHAIN_CONTEXT chain, const std::wstring& hostName, DWORD ignoredChecks) {
  const LONG status = SslPolicyStatus(chain, hostName.c_str(), ignoredChecks);
  if (status != CERT_E_CN_NO_MATCH || !IssuedForAddress(chain, hostName)) return status;
  return SslPolicyStatus(chain, nullptr, ignoredChecks);
}

TlsFailure FailureOf(LONG status) {
  switch (status) {
    case 0:
      return TlsFailure::kNone;
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
    case TRUST_E_CERT_SIGNATURE:
      return TlsFailure::kUntrusted;
    case CERT_E_CN_NO_MATCH:
      return TlsFailure::kWrongName;
    default:
      return TlsFailure::kCertificate;
  }
}

}  // namespace

TlsFailure CheckServerCertificate(PCCERT_CONTEXT certificate, const std::wstring& hostName,
                                  const std::string& trustFile) {
  if (certificate == nullptr) return TlsFailure::kUntrusted;
  // The trust file's certificates join the intermediates the server sent, so that a chain
  // can reach them; they count as roots only through EndsAtAnchor below.
  StoreHandle extra(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  StoreHandle anchors(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
  if (extra.get() == nullptr || anchors.get() == nullptr) return TlsFailure::kUntrusted;
  AddTrustFile(anchors.get(), ReadSmallFile(trustFile));
  PCCERT_CONTEXT sent = nullptr;
  while ((sent = CertEnumCertificatesInStore(certificate->hCertStore, sent)) != nullptr) {
    CertAddCertificateContextToStore(extra.get(), sent, CERT_STORE_ADD_USE_EXISTING, nullptr);
  }
  PCCERT_CONTEXT anchor = nullptr;
  while ((anchor = CertEnumCertificatesInStore(anchors.get(), anchor)) != nullptr) {
    CertAddCertificateContextToStore(extra.get(), anchor, CERT_STORE_ADD_USE_EXISTING, nullptr);
  }

  static const char* kServerAuth[] = {szOID_PKIX_KP_SERVER_AUTH};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = const_cast<char**>(kServerAuth);
  ChainHandle chain;
  if (!CertGetCertificateChain(nullptr, certificate, nullptr, extra.get(), &chainPara, 0, nullptr,
                               chain.out())) {
    return TlsFailure::kUntrusted;
  }
  const LONG status = NamedPolicyStatus(chain.get(), hostName, 0);
  if (status != CERT_E_UNTRUSTEDROOT || !EndsAtAnchor(chain.get(), anchors.get())) return FailureOf(status);
  // The root is ours: everything else (name, dates, usage, signatures) is still checked.
  return FailureOf(NamedPolicyStatus(chain.get(), hostName, kIgnoreUnknownCa));
}

}  // namespace qx
