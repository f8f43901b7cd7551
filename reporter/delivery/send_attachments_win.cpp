#include "send_attachments_win.h"

#include "bitmap_win.h"
#include "com_ptr_win.h"
#include "header_values_win.h"
#include "image_files.h"
#include "report_file_core.h"
#include "report_file_win.h"
#include "temp_folder_win.h"
#include "zip_archive.h"

namespace qx {

namespace {

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string FileNamePart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AbsolutePath(const std::string& path) {
  return path.empty() ? path : AbsoluteReportPath(path, ExecutableFolder());
}

// Whether the exception's report is in the report file already (saved automatically).
bool ReportAlreadySaved(IKVSettings* settings) {
  if (settings == nullptr) return false;
  ComPtr<IKVExceptionEx> ex = ComPtr<IKVSettings>(settings).As<IKVExceptionEx>(IID_IKVExceptionEx);
  return ex && ex->AutoSaved();
}

void SetProgress(IProgressAlert* progress, size_t done, size_t count) {
  if (progress != nullptr && count > 0)
    progress->SetPosition(static_cast<int32_t>(done * 1000 / count));
}

}  // namespace

std::string ExecutableFolder() {
  std::string exe = ModuleFileName(nullptr);
  const size_t slash = exe.find_last_of('\\');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
}

void DeleteFileForGood(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  DeleteFileA(path.c_str());
}

SendFiles::~SendFiles() {
  for (const std::string& path : made_) DeleteFileForGood(path);
}

void SendFiles::AddReport(IKVSettings* settings, const std::string& report) {
  if (settings == nullptr || !settings->GetAttachBugRep()) return;
  const std::string folder = ReporterTempFolder();
  const std::string original = AbsolutePath(ReportFileName(settings));
  if (folder.empty() || original.empty()) return;
  const std::string copy = folder + FileNamePart(original);
  // A copy left by an earlier send that could not clean up must not grow.
  DeleteFileForGood(copy);
  bool copied = false;
  if (settings->GetAttachBugRepFile()) copied = CopyFileA(original.c_str(), copy.c_str(), FALSE) != 0;
  if (copied) {
    Made(copy);
    SetFileAttributesA(copy.c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  if (!copied || !ReportAlreadySaved(settings)) {
    // Saved as the report file saves, so duplicates and the size limit apply to the copy.
    if (SaveReportFile(copy, report, nullptr, settings, true)) {
      if (!copied) Made(copy);
    } else {
      DeleteFileForGood(copy);
      return;
    }
  }
  attachments_.push_back({copy, settings->GetBugRepSendAs(), settings->GetBugRepZip(), "BugReport"});
  if (copied) deletableReportFile_ = original;
}

void SendFiles::AddScreenshot(IKVSettings* settings, IScreenshot* screenshot) {
  if (settings == nullptr || screenshot == nullptr) return;
  ComPtr<INVBitmap> bitmap = ComPtr<IScreenshot>(screenshot).As<INVBitmap>(IID_INVBitmap);
  if (!bitmap) return;
  const std::string folder = ReporterTempFolder();
  if (folder.empty()) return;
  const std::string path = folder + "screenShot.png";
  DeleteFileForGood(path);
  if (!bitmap->WritePngFile(path, PngModeForDepth(settings->GetScrShotDepth()))) return;
  Made(path);
  attachments_.push_back({path, settings->GetScrShotSendAs(), settings->GetScrShotZip(), "ScreenShot"});
}

void SendFiles::AddListed(IKVSettings* settings) {
  if (settings == nullptr) return;
  ComPtr<IKVAttachments> listed = ComPtr<IKVAttachments>::Adopt(settings->AddAttachs());
  if (!listed) return;
  listed->Lock();
  const int32_t count = listed->ItemCount();
  for (int32_t i = 0; i < count; ++i) {
    SendAttachment item;
    if (listed->Item(i, item.path, item.sendAs, item.zipName, item.fieldName)) {
      item.path = AbsolutePath(item.path);
      attachments_.push_back(std::move(item));
    }
  }
  listed->Unlock();
}

void SendFiles::Pack(IProgressAlert* progress) {
  const AttachmentPlan plan = PlanAttachments(attachments_, FileExists, ReporterTempFolder());
  std::vector<bool> zipWritten(plan.zips.size(), false);
  for (size_t i = 0; i < plan.zips.size(); ++i) {
    const AttachmentPlan::Zip& zip = plan.zips[i];
    DeleteFileForGood(zip.archivePath);
    zipWritten[i] = WriteZipArchive(zip.archivePath, zip.sources, zip.entryNames);
    if (zipWritten[i]) Made(zip.archivePath);
    SetProgress(progress, i + 1, plan.zips.size());
  }
  for (const AttachmentPlan::Item& item : plan.items) {
    if (item.zipIndex >= 0 && !zipWritten[item.zipIndex]) continue;
    paths_.push_back(item.path);
    sendAsNames_.push_back(item.sendAs);
    fieldNames_.push_back(item.fieldName);
  }
  SetProgress(progress, 1, 1);
}

}  // namespace qx
