// Prints throughput figures of the SQL functions called through the export table, as a
// server calls them (arguments by reference, text results freed after each call).
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>

#include "ib_util_host.h"
#include "memory_blob.h"
#include "udf_binding.h"

namespace {

using Clock = std::chrono::steady_clock;

// Runs body repeatedly for about the given time; returns calls per second. One untimed
// call comes first: what the first call loads (fn_TrimRTF loads the rich-edit library,
// which takes a third of a second under 64-bit Wine) is not a call rate.
double Rate(const std::function<void()>& body, double seconds = 0.5) {
  body();
  long calls = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    for (int i = 0; i < 64; ++i) body();
    calls += 64;
    elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  } while (elapsed < seconds);
  return calls / elapsed;
}

double Seconds(const std::function<void()>& body) {
  const auto start = Clock::now();
  body();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main() {
  qxhost::UdfLibrary lib;
  if (!lib.Load()) {
    std::fprintf(stderr, "%s\n", lib.error().c_str());
    return 1;
  }
  const auto& f = lib.fn();
  int32_t a = 12345, b = 6;
  double d = 45000.75;
  const std::string rtf2k = [] {
    std::string s = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}{\\colortbl;\\red255\\green0\\blue0;}\\f0\\fs20 ";
    while (s.size() < 2000) s += "Some {\\b bold} and {\\cf1 red} text in a paragraph.\\par ";
    return s + "}";
  }();

  std::printf("calls per second through the export table:\n");
  auto row = [](const char* name, double rate) { std::printf("  %-22s %12.0f\n", name, rate); };
  row("fn_setbit", Rate([&] { f.setbit(&a, &b); }));
  row("fn_clearbit", Rate([&] { f.clearbit(&a, &b); }));
  row("fn_checkbit", Rate([&] { f.checkbit(&a, &b); }));
  row("fn_minvalue", Rate([&] { f.minvalue(&a, &b); }));
  row("fn_maxvalue", Rate([&] { f.maxvalue(&a, &b); }));
  row("fn_incday", Rate([&] { f.incday(&d, &a); }));
  row("fn_factbedragbetaald", Rate([&] { f.factbedragbetaald(&a, "Y"); }));
  row("fn_BoolStringToInt", Rate([&] { f.BoolStringToInt("YNYNYYNNYNYN"); }));
  row("fn_inttocnk", Rate([&] { ib_util_free(f.inttocnk(&a)); }));
  row("fn_formatDouble", Rate([&] { ib_util_free(f.formatDouble(&d)); }));
  double third = 1.0 / 3, tiny = 4.9e-324;
  row("fn_formatDouble(1/3)", Rate([&] { ib_util_free(f.formatDouble(&third)); }));
  row("fn_formatDouble(min)", Rate([&] { ib_util_free(f.formatDouble(&tiny)); }));
  row("fn_strReplace", Rate([&] { ib_util_free(f.strReplace("banana split", "ana", "x")); }));
  row("fn_GetBlobValue", Rate([&] {
        qxhost::MemoryBlob blob = qxhost::MemoryBlob::Input("a=1\r\nb=2\r\nkey=value\r\nz=9");
        ib_util_free(f.GetBlobValue(blob.descriptor(), "KEY"));
      }));
  row("fn_TrimRTF (2 KB)", Rate([&] {
        qxhost::MemoryBlob in = qxhost::MemoryBlob::Input(rtf2k);
        qxhost::MemoryBlob out = qxhost::MemoryBlob::Output();
        f.TrimRTF(in.descriptor(), out.descriptor());
      }, 1.0));

  std::printf("fn_strReplace on large texts (every 'ab' of 'abcd...' replaced):\n");
  double t1 = 0, t10 = 0;
  for (int mb : {1, 10}) {
    std::string s;
    s.reserve(mb * 1000000);
    while (s.size() < static_cast<size_t>(mb) * 1000000) s += "abcdefghij";
    double t = Seconds([&] { ib_util_free(f.strReplace(s.c_str(), "ab", "XYZ")); });
    std::printf("  %2d MB: %8.1f ms (%.0f MB/s)\n", mb, t * 1000, mb / t);
    (mb == 1 ? t1 : t10) = t;
  }
  std::printf("  10 MB / 1 MB time ratio: %.2f (linear is 10)\n", t10 / t1);
  std::string hostile(1000000, 'a');
  std::string pattern = std::string(5000, 'a') + "b";
  double th = Seconds([&] { ib_util_free(f.strReplace(hostile.c_str(), pattern.c_str(), "x")); });
  std::printf("  1 MB of 'a' searching 'a'x5000+'b': %.1f ms\n", th * 1000);

  std::printf("BlobToString of a 10 MB blob (through fn_GetBlobValue):\n");
  const std::string big(10 * 1000 * 1000, 'x');
  for (uint16_t segment : {uint16_t{65535}, uint16_t{1}}) {
    qxhost::MemoryBlob blob = qxhost::MemoryBlob::Input(big, segment);
    double t = Seconds([&] { ib_util_free(f.GetBlobValue(blob.descriptor(), "k")); });
    std::printf("  %5u-byte segments: %8.1f ms (%.1f MB/s, %zu callbacks)\n", segment, t * 1000,
                10 / t, blob.readRequests().size());
  }
  return 0;
}
