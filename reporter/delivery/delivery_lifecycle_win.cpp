#include "delivery_lifecycle_win.h"

#include "bitmap_win.h"
#include "process_registries.h"
#include "screen_capture_win.h"
#include "send_report_win.h"
#include "temp_folder_win.h"

namespace qx {
namespace {

IScreenshot* TakeScreenshot(IKVException*, bool applicationOnly) {
  return CaptureScreen(applicationOnly);
}

IScreenshot* LoadBitmapFile(const std::string& fileName) {
  TINVBitmap* bitmap = LoadBmpFile(fileName);
  return bitmap != nullptr ? static_cast<INVBitmap*>(bitmap) : nullptr;
}

}  // namespace

void DeliveryStartup() {
  ClearReporterTempFolder();
  Hooks().takeScreenshot = TakeScreenshot;
  PipelineLinks().clearTempFolder = ClearReporterTempFolder;
  FormLinks().tempFolder = ReporterTempFolder;
  FormLinks().loadBitmapFile = LoadBitmapFile;
  PipelineLinks().sendReport = SendExceptionReport;
}

void DeliveryShutdown() {
  PipelineLinks().sendReport = nullptr;
  FormLinks().loadBitmapFile = nullptr;
  FormLinks().tempFolder = nullptr;
  PipelineLinks().clearTempFolder = nullptr;
  Hooks().takeScreenshot = nullptr;
}

}  // namespace qx
