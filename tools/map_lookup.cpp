// Developer command: what the debug-information map of a module file answers.
//   map_lookup MODULE ADDRESS...     ADDRESS absolute (at the module's preferred base) or
//                                    +OFFSET from the module's start, in hexadecimal
//   map_lookup --dump MODULE         every segment, public and line of the map
#include <cstdio>
#include <cstdlib>
#include <string>

#include "map_file.h"
#include "map_pe_file.h"
#include "map_sources.h"
#include "map_stream.h"
#include "pe_image.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: map_lookup MODULE ADDRESS|+OFFSET...\n"
               "       map_lookup --dump MODULE\n");
  return 2;
}

void Dump(const qx::TMapFile& map) {
  std::printf("module %s\nvalid %d\ncode $%08x-$%08x\ndata $%08x-$%08x\nentry $%08x\n",
              map.moduleFileName.c_str(), map.isValid ? 1 : 0, map.baseOfCode, map.topOfCode,
              map.baseOfData, map.topOfData, map.entryPoint);
  if (!map.minDebugInfo.empty()) std::printf("minimal %s\n", map.minDebugInfo.c_str());
  std::printf("segments %zu\n", map.segments.Count());
  for (const auto& s : map.segments.Items())
    std::printf("  %s $%08x %08x %s%s\n", s.isCode ? "code" : "data", s.begin, s.length,
                s.name.c_str(), s.hasLines ? " (lines)" : "");
  std::printf("publics %zu\n", map.publics.Count());
  for (const auto& p : map.publics.Items())
    std::printf("  %s $%08x %s\n", p.isCode ? "code" : "data", p.address, p.name.c_str());
  std::printf("lines %zu\n", map.lines.Count());
  for (const auto& l : map.lines.Items()) std::printf("  $%08x %u\n", l.address, l.line);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return Usage();
  const bool dump = std::string(argv[1]) == "--dump";
  const std::string path = dump ? argv[2] : argv[1];
  std::string file;
  if (!qx::ReadFileBytes(path, file)) {
    std::fprintf(stderr, "map_lookup: cannot read %s\n", path.c_str());
    return 1;
  }
  const std::string image = qx::LayOutImage(file);
  qx::SpanReader reader(image);
  qx::PeImage view(reader, 0, qx::PeLayout::kLoaded);
  const uint32_t imageBase = view.Open() ? view.ImageBase() : 0;
  qx::TFileMapEnvironment env(image);
  qx::TMapFile map;
  qx::BuildMapFile(map, image.empty() ? 0 : imageBase, path, image, env);
  if (dump) {
    Dump(map);
    return map.isValid ? 0 : 1;
  }
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    uint32_t address = arg[0] == '+'
                           ? imageBase + static_cast<uint32_t>(std::strtoul(arg.c_str() + 1, nullptr, 16))
                           : static_cast<uint32_t>(std::strtoul(arg.c_str(), nullptr, 16));
    qx::TMfLookup r;
    if (!qx::LookupInMap(map, address, r)) {
      std::printf("$%08x: -\n", address);
      continue;
    }
    std::printf("$%08x: %s %s %s+$%x (start $%08x) line %d\n", address,
                qx::FileNameOnly(r.moduleFileName).c_str(), r.unitName.c_str(),
                r.publicName.c_str(), address - r.publicAddress, r.publicAddress, r.line);
  }
  return 0;
}
