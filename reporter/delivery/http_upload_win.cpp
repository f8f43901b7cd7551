#include "socket_win.h"

#include "http_upload_win.h"

#include <shellapi.h>

#include <vector>

#include "ascii_text.h"
#include "attachment_file_win.h"
#include "http_reply.h"
#include "http_request.h"
#include "network_switches.h"
#include "tls_stream_win.h"

namespace qx {

namespace {

constexpr uint32_t kConnectTimeoutMs = 15000;
constexpr size_t kReplyPiece = 5120;
// A reply that has not been judged by then is not one we understand.
constexpr size_t kMaxReplyBytes = 64 * 1024;
constexpr DWORD kInternetOptionProxy = 38;

struct InternetProxyInfo {
  DWORD accessType;
  const char* proxy;
  const char* proxyBypass;
};

std::string SystemProxy() {
  HMODULE library = LoadLibraryA("wininet.dll");
  if (library == nullptr) return std::string();
  using QueryFn = BOOL(WINAPI*)(void*, DWORD, void*, DWORD*);
  auto query = reinterpret_cast<QueryFn>(reinterpret_cast<void*>(GetProcAddress(library, "InternetQueryOptionA")));
  std::string proxy;
  if (query != nullptr) {
    DWORD size = 0;
    query(nullptr, kInternetOptionProxy, nullptr, &size);
    if (size >= sizeof(InternetProxyInfo) && size < 65536) {
      std::vector<char> buffer(size);
      const auto* info = reinterpret_cast<const InternetProxyInfo*>(buffer.data());
      // Access type 3 is "through a named proxy"; 1 (direct) carries no proxy to use.
      if (query(nullptr, kInternetOptionProxy, buffer.data(), &size) && info->accessType == 3 &&
          info->proxy != nullptr) {
        proxy = info->proxy;
      }
    }
  }
  FreeLibrary(library);
  return proxy;
}

void OpenWithShell(const std::string& url) {
  ShellExecuteA(nullptr, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::vector<FormField> JobFields(MailJob& job) {
  std::vector<FormField> fields;
  if (job.fields == nullptr) return fields;
  job.fields->Lock();
  const int32_t count = job.fields->ItemCount();
  for (int32_t i = 0; i < count; ++i) {
    const std::string name = job.fields->ItemName(i);
    fields.push_back({name, job.fields->Content(name)});
  }
  job.fields->Unlock();
  return fields;
}

std::vector<FormFile> JobFiles(const MailJob& job) {
  std::vector<FormFile> files;
  for (size_t i = 0; i < job.filePaths.size(); ++i) {
    FormFile file;
    file.fieldName = i < job.fieldNames.size() ? job.fieldNames[i] : std::string();
    file.sendAs = i < job.sendAsNames.size() ? job.sendAsNames[i] : std::string();
    file.size = AttachmentSize(job.filePaths[i]);
    files.push_back(file);
  }
  return files;
}

// Sends the file's bytes as announced: exactly `announced` of them, or failure.
bool SendFilePart(ConnectionStream& stream, SendProgress& progress, const std::string& path,
                  const FormFile& file) {
  AttachmentFile source;
  if (!source.Open(path) || source.size() != file.size) return false;
  progress.Advance();
  if (!stream.Send(FormFilePartHead(file))) return false;
  char chunk[16 * 1024];  // read in larger blocks; SendAll sends them in 1024-byte pieces
  uint64_t done = 0;
  while (done < file.size) {
    const uint64_t left = file.size - done;
    const size_t count = left < sizeof chunk ? static_cast<size_t>(left) : sizeof chunk;
    if (!source.Read(chunk, count) || !stream.Send(chunk, count)) return false;
    done += count;
    progress.Fraction(done, file.size);
  }
  return true;
}

bool ReadVerdict(ConnectionStream& stream) {
  std::string received;
  char buffer[kReplyPiece];
  for (;;) {
    const int count = stream.Receive(buffer, sizeof buffer, NetworkSwitchesOf().httpReplyTimeoutMs);
    if (count <= 0) return false;
    received.append(buffer, static_cast<size_t>(count));
    const HttpVerdict verdict = JudgeHttpReply(received);
    if (verdict.kind == HttpVerdict::Kind::kFailure) return false;
    if (verdict.kind == HttpVerdict::Kind::kSuccess) {
      if (!verdict.location.empty()) {
        const UrlOpener opener = NetworkSeamsOf().openUrl;
        (opener != nullptr ? opener : OpenWithShell)(verdict.location);
      }
      return true;
    }
    if (received.size() > kMaxReplyBytes) return false;
  }
}

// Asks the proxy for a tunnel to `hostPort`; true once it answers 2xx. The proxy sees
// where the report goes, never what it says.
bool OpenTunnel(ConnectionStream& stream, const std::string& hostPort) {
  if (!stream.Send("CONNECT " + hostPort + " HTTP/1.1\r\nHost: " + hostPort + "\r\n\r\n")) return false;
  std::string received;
  char buffer[kReplyPiece];
  while (received.find("\r\n\r\n") == std::string::npos) {
    // One byte at a time: the server's first TLS bytes may follow the proxy's reply at once.
    const int count = stream.Receive(buffer, 1, NetworkSwitchesOf().httpReplyTimeoutMs);
    if (count <= 0 || received.size() >= kMaxReplyBytes) return false;
    received.append(buffer, static_cast<size_t>(count));
  }
  const size_t space = received.find(' ');
  return StartsWithNoCase(received, 0, "http/1.") && space != std::string::npos && space + 1 < received.size() &&
         received[space + 1] == '2';
}

}  // namespace

bool IsHttpsAddress(const std::string& address) { return StartsWithNoCase(address, 0, "https://"); }

std::string UploadProxy() {
  const NetworkSwitches& switches = NetworkSwitchesOf();
  if (switches.proxyDisabled) return std::string();
  const std::string proxy = !switches.fixedProxy.empty() ? switches.fixedProxy : SystemProxy();
  return proxy.empty() ? std::string() : ReducedProxyText(proxy);
}

void AddHttpProgressAreas(SendProgress& progress, const SendStepTexts& texts, MailJob& job) {
  progress.Area(texts.conn, 100);
  progress.Step(100);
  progress.Area(texts.field, FormFieldBlock(JobFields(job)).size() + 100);
  for (const FormFile& file : JobFiles(job)) {
    if (file.size > 0) progress.Area(texts.sendAtt, (FormFilePartHead(file).size() + file.size) / 16);
  }
  progress.Step(100);
  progress.Area(texts.sendFinal, 500);
}

bool HttpUpload(MailJob& job) {
  SendProgress progress(job.progress);
  const HttpAddress address = SplitHttpAddress(job.httpAddress);
  const uint16_t port = address.host.port != 0 ? address.host.port : job.port;
  const std::string proxy = UploadProxy();
  const HostPort target = proxy.empty() ? HostPort{address.host.name, port} : SplitHostPort(proxy);
  const bool secure = IsHttpsAddress(job.httpAddress);
  const std::string fieldBlock = FormFieldBlock(JobFields(job));
  const std::vector<FormFile> files = JobFiles(job);

  HttpRequestHead head;
  head.hostHeader = address.host.name + ":" + std::to_string(port);
  // A proxy needs the whole address in the request line; the server itself gets the path,
  // also through a proxy's tunnel.
  head.target = proxy.empty() || secure ? address.path : "http://" + head.hostHeader + address.path;
  head.contentLength = FormContentLength(fieldBlock, files);
  head.from = job.sender;
  head.account = job.account;
  head.password = job.password;

  in_addr ip;
  SocketHandle s;
  if (!ResolveIpv4(target.name, ip)) return false;
  progress.Advance();
  if (!ConnectTcp(s, ip, target.port != 0 ? target.port : port, kConnectTimeoutMs)) return false;
  ConnectionStream stream(s.get());
  if (secure && ((!proxy.empty() && !OpenTunnel(stream, head.hostHeader)) ||
                 !stream.StartTls(address.host.name, NetworkSwitchesOf().httpReplyTimeoutMs))) {
    return false;
  }
  progress.Advance();
  if (!stream.Send(HttpRequestHeadText(head) + fieldBlock)) return false;
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].size == 0) continue;
    if (!SendFilePart(stream, progress, job.filePaths[i], files[i])) return false;
  }
  progress.Advance();
  if (!stream.Send(FormClosing())) return false;
  progress.Advance();
  return ReadVerdict(stream);
}

}  // namespace qx
