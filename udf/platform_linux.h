// What the Linux build adds to the platform interface, for tests and diagnostics.
#pragma once

namespace qx {

// Reads the decimal separator and the name-comparison locale from the environment; the
// module's constructor calls it once at load.
void ReadLocaleSettings();
void ReleaseLocaleSettings();

// How many calls have failed (and returned SQL NULL) since the module was loaded.
unsigned UdfFailureCount();

}  // namespace qx
