// fn_TrimRTF's rich-text conversion on Linux: our own reader in place of the Windows
// rich-edit control. It needs no library, no window and no lock.
#include "platform.h"
#include "rtf_plain_text.h"

namespace qx {

std::string RichTextToPlain(const std::string& richText) {
  // Like the control, which takes the inserted text as zero terminated.
  return RtfPlainText(std::string_view(richText.c_str()));
}

}  // namespace qx
