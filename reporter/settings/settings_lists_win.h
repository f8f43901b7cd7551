// Where a settings object's field list and attachment list come from. Their one
// implementation belongs to the report, which builds on this library, so the report
// installs its makers when it starts. A settings object builds its lists at the first
// AddFields / AddAttachs call; before the makers are installed that call answers null (as
// it does when memory runs out) and a later call builds them. Within the module nothing
// asks for the lists before the report has started.
#pragma once

#include "settings_interfaces_win.h"

namespace qx {

class TIKVSettings;

// Each maker returns a new list (one reference, owned by the caller) that holds the owner's
// "AddFields" or "AddAttachs" items and writes every change back into that setting, or
// null. The settings object unlinks its lists through IKVFieldsEx / IKVAttachmentsEx
// ClearOwnerSettings when it goes.
struct SettingsListMakers {
  IKVFields* (*fields)(TIKVSettings* owner) = nullptr;
  IKVAttachments* (*attachments)(TIKVSettings* owner) = nullptr;
  // A name/value list of nobody's setting (the form cache).
  IKVFields* (*plainFields)() = nullptr;
};

// Installs the makers; empty makers remove them.
void SetSettingsListMakers(const SettingsListMakers& makers);

// A new list of `owner` from the installed maker; null when none is installed.
IKVFields* MakeSettingsFields(TIKVSettings* owner);
IKVAttachments* MakeSettingsAttachments(TIKVSettings* owner);
IKVFields* MakePlainFields();

}  // namespace qx
