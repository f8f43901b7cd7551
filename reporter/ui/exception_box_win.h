// The exception box: the modal window that shows an exception, its buttons and (when the
// report is to be shown) the bug report in tabbed pages that follow the report while its
// sections are completed.
#pragma once

#include <windows.h>

#include <cstdint>

namespace qx {

struct IKVException;

// The box's private messages.
inline constexpr UINT kBoxReportChanged = 1801;  // re-sync tabs and the current page
inline constexpr UINT kBoxShowReport = 1802;     // as the details button
inline constexpr UINT kBoxClose = 1803;          // close the box
inline constexpr char kExceptionBoxClass[] = "qelExceptWndClass";
inline constexpr UINT_PTR kCountdownTimer = 777;

// Which automatic endings apply to this exception (the pipeline's repeat rule decides).
struct BoxAutomatic {
  bool close = false;
  bool restart = false;
};

// Builds the box for show mode 0 (full), 2 (short, with details) or 3 (short), runs its
// message loop on this thread until it is gone, and shows it again as a full box when the
// show or details button asked for that (modes 0 and 2).
void ShowExceptionBox(IKVException* exception, uint32_t mode, HWND owner,
                      const BoxAutomatic& automatic);

// The box open now in this process (null when none).
HWND CurrentExceptionBoxWindow();
// Tells the open box to close (message 1803): sent directly on the box's own thread, from
// another thread with a time limit, so that a busy box never holds the caller.
void CloseCurrentExceptionBox();
// Tells the open box to show the report (message 1802, posted). False without a box.
bool ShowReportInCurrentBox();

}  // namespace qx
