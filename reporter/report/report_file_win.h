// The report file: every saved report appended, repeats of an earlier fault replacing it
// with a "count", the file kept below its size limit by dropping its oldest reports.
#pragma once

#include <windows.h>

#include <string>

#include "report_interfaces_win.h"

namespace qx {

// "BugRepFile" with "%appname%" and "%modname%" replaced.
std::string ReportFileName(IKVSettings* settings);

// Writes `report` into the file `name` (empty: the settings' report file; silent makes it
// absolute, otherwise the user picks it in a save dialog). An open that finds the file in
// use by another save is retried for a few seconds, so that both reports land. True when
// the report was written.
bool SaveReportFile(const std::string& name, const std::string& report, HWND parent,
                    IKVSettings* settings, bool silent);

// Appends one line to the settings' report file (made absolute as an automatic save makes
// it), for what the reporter did instead of showing a window. True when it was written.
bool AppendReportFileLine(IKVSettings* settings, const std::string& line);

// The automatic save of a finished exception, at most once per exception.
void AutoSaveCheck(IKVException* exception);

// The desktop folder with a trailing backslash, else the executable's folder.
std::string DesktopFolder();
// Creates the folder of `filePath` and its parents; true when it exists afterwards.
bool CreateFolderPath(const std::string& filePath);

}  // namespace qx
