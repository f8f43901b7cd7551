// The field list and attachment list that settings objects build from their "AddFields"
// and "AddAttachs" texts. While a list knows a settings object as its owner, every change
// writes the list back into that text.
#pragma once

#include "settings_interfaces_win.h"

namespace qx {

class TIKVSettings;

// New, empty lists (one reference, owned by the caller). A new field list ignores writes
// until `SetAcceptData(true)`.
IKVFields* CreateFieldList();
IKVAttachments* CreateAttachmentList();

// Links a list made by the functions above to its owning settings object (null unlinks).
void AttachFieldOwner(IKVFields* fields, TIKVSettings* owner);
void AttachAttachmentOwner(IKVAttachments* attachments, TIKVSettings* owner);

}  // namespace qx
