// A 1 MB report and a 200 KB screenshot sent over SMTP (aiosmtpd) and HTTP (http.server) on
// loopback: time per send and bytes on the wire against the payload. Run by
// scripts/bench.sh through tests/delivery/network_peers.py, which starts the peers.
#include "socket_win.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "mail_job_win.h"

namespace {

std::string Env(const char* name) {
  char value[512];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n > 0 && n < sizeof value ? std::string(value, n) : std::string();
}

void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Report-like text: numbered lines of addresses and names.
std::string ReportText(size_t size) {
  std::string text;
  char line[96];
  for (unsigned i = 0; text.size() < size; ++i) {
    std::snprintf(line, sizeof line, "%08x  +%03x QXUdfLib.dll  unit_%u  %u  Function_%u\r\n",
                  0x401000u + i * 37u, i % 4096u, i % 97u, i, i % 311u);
    text += line;
  }
  text.resize(size);
  return text;
}

std::string ScreenshotBytes(size_t size) {
  std::string bytes(size, '\0');
  uint32_t seed = 7;
  for (char& c : bytes) {
    seed = seed * 1103515245u + 12345u;
    c = static_cast<char>(seed >> 16);
  }
  return bytes;
}

void Measure(const char* channel, qx::MailJob& job, uint64_t payload, int rounds) {
  double best = 1e9;
  uint64_t wire = 0;
  int ok = 0;
  for (int i = 0; i < rounds; ++i) {
    const uint64_t before = qx::SocketBytesSent();
    const double start = Seconds();
    ok += qx::SendMailOrUpload(job) ? 1 : 0;
    const double took = Seconds() - start;
    if (took < best) best = took;
    wire = qx::SocketBytesSent() - before;
  }
  std::printf("%-5s %d/%d sent  best %7.1f ms  %9llu bytes on the wire for %llu of payload (x%.3f)  %6.1f MB/s\n",
              channel, ok, rounds, best * 1000.0, static_cast<unsigned long long>(wire),
              static_cast<unsigned long long>(payload), static_cast<double>(wire) / static_cast<double>(payload),
              static_cast<double>(wire) / best / 1e6);
}

}  // namespace

int main() {
  if (Env("QX_SMTP_PORT").empty() || Env("QX_HTTP_PORT").empty()) {
    std::fprintf(stderr, "network_bench: run it through network_peers.py\n");
    return 2;
  }
  char temp[MAX_PATH];
  GetTempPathA(sizeof temp, temp);
  const std::string report = std::string(temp) + "qx_network_bench_report.txt";
  const std::string shot = std::string(temp) + "qx_network_bench_shot.png";
  WriteAll(report, ReportText(1024 * 1024));
  WriteAll(shot, ScreenshotBytes(200 * 1024));
  const uint64_t payload = 1024 * 1024 + 200 * 1024;

  qx::MailJob mail;
  mail.server = "127.0.0.1";
  mail.port = static_cast<uint16_t>(std::atoi(Env("QX_SMTP_PORT").c_str()));
  mail.account = "reporter";
  mail.password = "s3cret:pw";
  mail.sender = "rep@example.test";
  mail.recipients = "bench@example.test";
  mail.subject = "Bug report";
  mail.body = "The report and the screenshot are attached.";
  mail.filePaths = {report, shot};
  mail.sendAsNames = {"bugreport.txt", "screenShot.png"};
  mail.fieldNames = {"BugReport", "ScreenShot"};
  Measure("SMTP", mail, payload, 5);

  qx::MailJob upload = mail;
  upload.server.clear();
  upload.httpAddress = "http://127.0.0.1/bench/ok";
  upload.port = static_cast<uint16_t>(std::atoi(Env("QX_HTTP_PORT").c_str()));
  upload.account = "user";
  upload.password = "pw";
  Measure("HTTP", upload, payload, 5);
  DeleteFileA(report.c_str());
  DeleteFileA(shot.c_str());
  return 0;
}
