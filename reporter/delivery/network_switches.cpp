#include "network_switches.h"

namespace qx {

NetworkSwitches& NetworkSwitchesOf() {
  static NetworkSwitches switches;
  return switches;
}

NetworkSeams& NetworkSeamsOf() {
  static NetworkSeams seams;
  return seams;
}

}  // namespace qx
