// libFuzzer target over every parser of the debug-information map (native clang build:
// cmake -DQX_MAP_FUZZ=ON with CC=clang CXX=clang++). With QX_MAP_FUZZ_SEEDS=DIR set, the
// start-up first writes one well-formed input per parser into DIR as a seed corpus.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>

#include "map_fuzz_input.h"

namespace {

void WriteSeeds(const std::string& dir) {
  using namespace qx;
  TQelContent content;
  content.segments = {{0x0, 0x40, "main.cpp", true}, {0x40, 0x100, "util.cpp", true}};
  content.publics = {{"Start", 0x0}, {"Helper", 0x20}, {"Far", 0x13c}};
  content.lines = {{5, 0x0}, {6, 0x8}, {300, 0x40}, {2, 0x50}};
  test::Td32Input td32;
  td32.modules = {{"C:\\src\\Main.obj", {{1, 0x0, 0x100}, {2, 0x0, 0x40}}}};
  td32.sources = {{"main.cpp", 1, 0x0, 0xff, {{0x0, 10}, {0x10, 12}}}};
  td32.symbols = {{0x205, 1, 0x0, "@Main@Run$qv"}, {0x202, 2, 0x8, "Counter"}};
  const std::string map =
      " Start         Length     Name                   Class\r\n"
      " 0001:00001000 00001801H .text                   CODE\r\n"
      "Detailed map of segments\r\n"
      " 0001:00000000 00000100 C=CODE     S=.text    G=(none)   M=System   ACBP=A9\r\n"
      "  Address         Publics by Value\r\n"
      " 0001:00000000       System.Move\r\n"
      "Line numbers for System(System.pas) segment .text\r\n"
      "    28 0001:00000000    29 0001:00000008\r\n"
      "Program entry point at 0001:00000000\r\n";
  const std::string seeds[] = {
      std::string(1, '\0') + BuildQelResource(content, 3, false, 1, 2),
      std::string(1, '\0') + BuildQelResource(content, 2, false, 0, 0),
      std::string(1, '\1') + test::MakeTd32(td32),
      std::string(1, '\2') + map,
      std::string(1, '\3') + PackBlock(EncodeDecodedStream(content, false)),
      std::string(1, '\4') + test::SettingsWithMinDebugInfo("$00000001, $00000002, $00000003"),
      std::string(1, '\5') + test::MakeImage(),
      std::string(1, '\6') + test::MakeJdbg({{{0x0, "System"}, {0x100, "Unit1"}},
                                              {{0x100, 28}, {0x108, 29}},
                                              {{0x0, "System", "Move"}, {0x100, "Unit1", ""}},
                                              true}),
  };
  int n = 0;
  for (const auto& seed : seeds)
    std::ofstream(dir + "/seed" + std::to_string(n++), std::ios::binary) << seed;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (const char* dir = std::getenv("QX_MAP_FUZZ_SEEDS")) WriteSeeds(dir);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  qx::test::RunFuzzInput(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
