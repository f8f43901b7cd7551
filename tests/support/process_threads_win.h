// The threads of the test program itself.
#pragma once

namespace qx {

// How many threads this process has now.
int ThreadsOfThisProcess();

}  // namespace qx
