// Opening the effective settings of a module, an address or a caller, and the module's
// main settings.
#pragma once

#include <windows.h>

#include "com_ptr_win.h"
#include "settings_interfaces_win.h"

namespace qx {

struct ExceptionTexts;

// The module that contains this copy of the reporter.
HMODULE ReporterModule();

// Reads this module's main settings; call once from the module's start-up.
void SettingsStartup();
// Unlists this module's record and releases the main settings; call from shut-down.
void SettingsShutdown();
// Releases the main settings (start-up found them invalid); MainSettings() is empty after.
void ReleaseMainSettings();

// The main settings of this module (empty before start-up and after shut-down).
ComPtr<IKVModuleSettings> MainSettings();
// The module of the main settings, or null when they are not set.
HMODULE MainSettingsModule();

ComPtr<IKVModuleSettings> FindSharedSettings();
ComPtr<IKVModuleSettings> SettingsForModule(HMODULE module);
ComPtr<IKVModuleSettings> SettingsForAddress(const void* address);
// The settings of the module the call of this function comes from.
ComPtr<IKVModuleSettings> SettingsForCaller();
// The settings of the module of the return address `level` frames above the caller
// (0 is the caller's own return address), found through the chain of saved frame pointers.
ComPtr<IKVModuleSettings> SettingsForFrame(int level);

// Expands the placeholders of a settings text for `module`; with `exception`, also the
// exception's class, message and report.
std::string ExpandSettingsText(HMODULE module, const std::string& text,
                               const ExceptionTexts* exception = nullptr);

}  // namespace qx
