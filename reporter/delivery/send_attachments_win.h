// The files a report is sent with: a copy of the report file holding the current report,
// the screenshot as PNG, the files the "AddAttachs" setting lists, and zip archives of
// those that share a zip name. Everything is written into the reporter's temporary folder
// and deleted again when the send is over.
#pragma once

#include <string>
#include <vector>

#include "progress_alert_win.h"
#include "report_interfaces_win.h"
#include "send_plan.h"

namespace qx {

class SendFiles {
 public:
  SendFiles() = default;
  ~SendFiles();  // deletes every file this send made
  SendFiles(const SendFiles&) = delete;
  SendFiles& operator=(const SendFiles&) = delete;

  // The report file's copy (step one): with `AttachBugRep`, the report file copied when
  // `AttachBugRepFile` says so, and the current report appended unless the copy already
  // holds it (it was saved automatically). Remembers the report file for deletion after a
  // successful send when the copy was made from it.
  void AddReport(IKVSettings* settings, const std::string& report);
  // The screenshot as "screenShot.png", in the PNG mode `ScrShotDepth` selects.
  void AddScreenshot(IKVSettings* settings, IScreenshot* screenshot);
  // Every item of the "AddAttachs" list.
  void AddListed(IKVSettings* settings);
  // Turns what was added into the three lists the channels take, packing zip groups.
  void Pack(IProgressAlert* progress);

  bool Empty() const { return attachments_.empty(); }
  const std::vector<std::string>& Paths() const { return paths_; }
  const std::vector<std::string>& SendAsNames() const { return sendAsNames_; }
  const std::vector<std::string>& FieldNames() const { return fieldNames_; }
  // The report file a successful send may delete (`DelBugRepFile`), or empty.
  const std::string& DeletableReportFile() const { return deletableReportFile_; }

 private:
  void Made(const std::string& path) { made_.push_back(path); }

  std::vector<SendAttachment> attachments_;
  std::vector<std::string> paths_, sendAsNames_, fieldNames_;
  std::vector<std::string> made_;
  std::string deletableReportFile_;
};

// Clears the attributes of a file and deletes it.
void DeleteFileForGood(const std::string& path);

// The executable's folder with its trailing backslash.
std::string ExecutableFolder();

}  // namespace qx
