// Sending a finished bug report: the one entry point that prepares the attachments, tries
// the network channel the settings enable, then the desktop mail program, and tells the
// user when nothing worked.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>
#include <string>

#include "report_interfaces_win.h"

namespace qx {

struct SendRequest {
  std::string report;
  IScreenshot* screenshot = nullptr;  // may be null
  HWND parent = nullptr;
  HANDLE* threadSlot = nullptr;  // receives a background send's thread handle; may be null
  bool inThread = false;         // running in a background send thread already
  IKVSettings* settings = nullptr;  // normally the exception object; null: the main settings
  bool background = false;
  bool hidden = false;  // an automatic send without user interface
};

// What a background send thread receives; it owns the record and its two references and
// frees them when the send is over.
struct TSendBugReportExRec {
  std::string report;
  IScreenshot* screenshot;
  bool hidden;
  IKVSettings* settings;
};

// 1 when a channel delivered the report or a background send started, 2 when the user
// cancelled the desktop mail dialog, 0 otherwise. On 1 (not for a send still running in
// the background) an exception object's sent flag is set.
uint8_t SendReportEx(const SendRequest& request);

// The send action of an exception object: closes the handle of its earlier send thread,
// waits for the complete report and sends it with the object as settings, in the
// background when `SendInBackgr` says so. The pipeline's send link.
uint8_t SendExceptionReport(IKVException* exception, IScreenshot* screenshot, HWND parent,
                            bool hidden);

}  // namespace qx
