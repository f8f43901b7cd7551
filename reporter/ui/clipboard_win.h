// The clipboard, as the reporter fills it.
#pragma once

#include <string>

namespace qx {

// Puts `text` on the clipboard as CF_TEXT; false when the clipboard cannot be opened
// (another program holds it: tried for about 200 ms).
bool CopyTextToClipboard(const std::string& text);

}  // namespace qx
