#include "ci_environment.h"

#include <cstdlib>
#include <cstring>

namespace qx {

bool RunningUnderCi() {
  const char* value = std::getenv("CI");
  return value != nullptr && std::strcmp(value, "true") == 0;
}

}  // namespace qx
