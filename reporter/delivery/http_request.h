// What an HTTP upload sends: the address taken apart, the proxy text reduced to a host, the
// multipart/form-data body pieces, their exact length and the request head.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace qx {

struct HostPort {
  std::string name;
  uint16_t port = 0;  // 0: none given
};

// "name:port" with a decimal port 1..65535 splits; anything else is all name.
HostPort SplitHostPort(const std::string& text);

struct HttpAddress {
  HostPort host;
  std::string path;  // from the first "/" after the host on; "/" when there is none
};

// Strips a scheme ("...://"), then splits host and path.
HttpAddress SplitHttpAddress(const std::string& address);

// A proxy setting as a connection target: without its scheme and, for per-protocol lists
// ("http=proxy:8080 https=..."), only the HTTP entry.
std::string ReducedProxyText(const std::string& proxy);

struct FormField {
  std::string name;
  std::string value;
};

struct FormFile {
  std::string fieldName;
  std::string sendAs;
  uint64_t size = 0;  // a file of size 0 sends no part
};

// Each field: CR LF, "--" boundary, CR LF, its Content-Disposition line, an empty line, the
// value. The leading CR LF of the first piece sent after the head ends the head.
std::string FormFieldBlock(const std::vector<FormField>& fields);
// CR LF, "--" boundary, CR LF, Content-Disposition with the file name, Content-Type, an
// empty line; the raw file bytes follow.
std::string FormFilePartHead(const FormFile& file);
// CR LF, "--" boundary "--", CR LF.
std::string FormClosing();

// The bytes after the head's empty line: the field block, every non-empty file's part and
// the closing delimiter, less the two bytes that end the head.
uint64_t FormContentLength(const std::string& fieldBlock, const std::vector<FormFile>& files);

struct HttpRequestHead {
  std::string target;        // the path, or the absolute address when sent to a proxy
  std::string hostHeader;    // "host:port"
  uint64_t contentLength = 0;
  std::string from;          // sender address; empty: no From line
  std::string account;       // with a password: Basic authorisation when either is set
  std::string password;
};

// The request line and header lines, each ending with CR LF (no empty line: the body's
// first piece begins with it).
std::string HttpRequestHeadText(const HttpRequestHead& head);

}  // namespace qx
