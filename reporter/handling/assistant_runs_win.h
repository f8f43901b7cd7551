// The assistants the pipeline runs for a report: the one the filter names (show mode 1)
// and the send, save and print assistants before those actions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "report_interfaces_win.h"

namespace qx {

// Runs the assistant `name` of the exception's settings modally over `parent` (may be
// null). Confirmed (1): its input goes into the report and into the form cache. Returns
// the assistant's result, or 0 when the settings define no such assistant.
int32_t RunReportAssistant(IKVException* exception, const std::string& name, HWND parent);

// Before the send, save or print action (0, 1, 2): runs the action's assistant over
// `parent`, which loses its topmost state meanwhile. False when the user cancelled it.
bool ConfirmActionAssistant(HWND parent, int32_t action, IKVException* exception);

}  // namespace qx
