// One fuzz input driven through the parser its first byte selects; shared by the libFuzzer
// target and the bounded mutation test.
#pragma once

#include <string>
#include <string_view>

#include "map_sources.h"
#include "map_test_support.h"

namespace qx::test {

inline void RunFuzzInput(std::string_view input) {
  if (input.empty()) return;
  const unsigned selector = static_cast<unsigned char>(input[0]) % 7;
  const std::string data(input.substr(1));
  TMapFile map;
  map.baseOfCode = 0x401000;
  map.topOfCode = 0x402000;
  uint32_t next = 0;
  switch (selector) {
    case 0: {
      FakeEnvironment env;
      env.hasQel = true;
      env.qel = data;
      env.hasSettings = true;
      env.settings = data;
      env.files["C:\\m.qel"] = data;
      map.moduleFileName = "C:\\m.dll";
      ImportQel(map, data, env, true);
      break;
    }
    case 1: ParseTd32(map, data); break;
    case 2: ParseTextMap(map, data); break;
    case 3: UnpackBlock(data); break;
    case 4: FindMinDebugInfo(data); break;
    case 6: ParseJdbg(map, data); break;
    case 5: {
      FakeEnvironment env;
      BuildMapFile(map, 0x10000000, "C:\\m.dll", data, env);
      break;
    }
  }
  // Whatever was read must answer lookups without faulting.
  for (uint32_t a : {0x401000u, 0x401234u, 0x10001000u, 0u})
    LineAt(map, a, next), PublicAt(map, a), SegmentAt(map, true, a), ProcNameInMap(map, a);
}

}  // namespace qx::test
