// Benchmark of the debug-information map of our own module (prints figures, asserts
// nothing): time to build the map, lookups per second, resource size against DWARF size.
//   map_bench QXUdfLib.dll QXUdfLib.debug.dll
#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "map_file.h"
#include "map_lookup.h"
#include "map_pe_file.h"
#include "map_sources.h"
#include "map_stream.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Raw size of the DWARF sections (".debug_*", or long names through the string table).
uint64_t DwarfSize(const std::string& file) {
  uint32_t peAt = 0;
  uint16_t count = 0, optSize = 0;
  if (!qx::GetU32(file, 0x3C, peAt) || !qx::GetU16(file, peAt + 6ull, count) ||
      !qx::GetU16(file, peAt + 20ull, optSize))
    return 0;
  uint64_t total = 0;
  for (uint32_t i = 0; i < count; ++i) {
    uint64_t at = peAt + 24ull + optSize + 40ull * i;
    uint32_t raw = 0;
    if (at + 40 > file.size() || !qx::GetU32(file, at + 16, raw)) break;
    std::string name = file.substr(at, 8);
    if (name.rfind(".debug", 0) == 0 || name[0] == '/') total += raw;
  }
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: map_bench MODULE DEBUG_COPY\n");
    return 2;
  }
  std::string shipped, debug;
  if (!qx::ReadFileBytes(argv[1], shipped) || !qx::ReadFileBytes(argv[2], debug)) {
    std::fprintf(stderr, "map_bench: cannot read the modules\n");
    return 1;
  }
  const std::string image = qx::LayOutImage(shipped);
  uint32_t peAt = 0, imageBase = 0;
  qx::GetU32(image, 0x3C, peAt);
  qx::GetU32(image, peAt + 24ull + 28, imageBase);
  qx::TFileMapEnvironment env(image);
  std::string resource;
  qx::FindImageResource(image, "QEL", "EXCEPT", resource);

  const int builds = 50;
  qx::TMapFile map;
  auto start = Clock::now();
  for (int i = 0; i < builds; ++i) qx::BuildMapFile(map, imageBase, argv[1], image, env);
  const double buildSeconds = Seconds(start) / builds;
  if (!map.isValid) {
    std::fprintf(stderr, "map_bench: no map in %s\n", argv[1]);
    return 1;
  }

  std::mt19937 random(7);
  const uint32_t span = map.topOfCode - map.baseOfCode;
  const int lookups = 2000000;
  uint64_t found = 0;
  start = Clock::now();
  for (int i = 0; i < lookups; ++i) {
    qx::TMfLookup r;
    found += qx::LookupInMap(map, map.baseOfCode + random() % span, r) ? r.line : 0;
  }
  const double lookupSeconds = Seconds(start);

  const uint64_t dwarf = DwarfSize(debug);
  std::printf("segments %zu, publics %zu, lines %zu\n", map.segments.Count(),
              map.publics.Count(), map.lines.Count());
  std::printf("map build from the resource: %.3f ms\n", buildSeconds * 1000);
  std::printf("lookups (unit, function, line): %.2f million/s (checksum %llu)\n",
              lookups / lookupSeconds / 1e6, static_cast<unsigned long long>(found));
  std::printf("resource %zu bytes, DWARF %llu bytes: %.1f%%\n", resource.size(),
              static_cast<unsigned long long>(dwarf), dwarf ? 100.0 * resource.size() / dwarf : 0.0);
  std::printf("module file %zu bytes shipped, %zu bytes with DWARF\n", shipped.size(), debug.size());

#ifdef _WIN32
  // The real first lookup: locate the module, read its resource, build and cache the map.
  HMODULE module = LoadLibraryExA(argv[1], nullptr, DONT_RESOLVE_DLL_REFERENCES);
  if (module != nullptr) {
    const uint32_t inside = reinterpret_cast<uint32_t>(module) + 0x1000;
    const int rounds = 20;
    start = Clock::now();
    for (int i = 0; i < rounds; ++i) {
      qx::MapFileShutdown();  // empty the cache
      qx::LocateMap(inside);
    }
    std::printf("first lookup in the process (LocateMap, cache empty): %.3f ms\n",
                Seconds(start) / rounds * 1000);
    start = Clock::now();
    const int cached = 20000;
    for (int i = 0; i < cached; ++i) {
      qx::TMfLookup r;
      qx::LookupAddress(inside + static_cast<uint32_t>(i % span), r);
    }
    std::printf("LookupAddress with the map cached: %.0f thousand/s\n",
                cached / Seconds(start) / 1e3);
  }
#endif
  return 0;
}
