// Whether the tests run under CI, where a missing peer (a server, a tool, a device the test
// reads) fails the run instead of skipping the test.
#pragma once

namespace qx {

// True when the environment has CI=true (Wine passes it on to Windows programs).
bool RunningUnderCi();

}  // namespace qx
