// The reference-counted field list and attachment list. A field list may know an exception
// object (its changes then mark the report modified) and a settings object (its changes
// are then written into the "AddFields" setting); an attachment list may know a settings
// object ("AddAttachs").
#pragma once

#include "settings_interfaces_win.h"

namespace qx {

class TIKVSettings;

// What a field list needs of the exception object that owns it.
class FieldListOwner {
 public:
  virtual void OwnerBeginUpdate() = 0;
  virtual void OwnerEndUpdate() = 0;
  // Called inside an update bracket, so it only marks the report dirty.
  virtual void OwnerModified() = 0;

 protected:
  ~FieldListOwner() = default;
};

// New empty lists, one reference owned by the caller. A new field list ignores writes until
// data is accepted.
IKVFields* CreateTIKVFields();
IKVAttachments* CreateTIKVAttachments();

// Weak owner links of lists made above (null unlinks).
void SetFieldsOwnerException(IKVFields* fields, FieldListOwner* owner);
void SetFieldsOwnerSettings(IKVFields* fields, TIKVSettings* owner);
void SetAttachmentsOwnerSettings(IKVAttachments* attachments, TIKVSettings* owner);

// Makes these lists the ones settings objects build for their "AddFields" and "AddAttachs"
// settings (done by the report's start-up), and takes them back.
void InstallSettingsLists();
void RemoveSettingsLists();

}  // namespace qx
