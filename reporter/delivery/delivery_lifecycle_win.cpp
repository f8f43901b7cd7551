#include "delivery_lifecycle_win.h"

#include "process_registries.h"
#include "screen_capture_win.h"
#include "send_report_win.h"
#include "temp_folder_win.h"

namespace qx {
namespace {

IScreenshot* TakeScreenshot(IKVException*, bool applicationOnly) {
  return CaptureScreen(applicationOnly);
}

}  // namespace

void DeliveryStartup() {
  ClearReporterTempFolder();
  Hooks().takeScreenshot = TakeScreenshot;
  PipelineLinks().clearTempFolder = ClearReporterTempFolder;
  PipelineLinks().sendReport = SendExceptionReport;
}

void DeliveryShutdown() {
  PipelineLinks().sendReport = nullptr;
  PipelineLinks().clearTempFolder = nullptr;
  Hooks().takeScreenshot = nullptr;
}

}  // namespace qx
