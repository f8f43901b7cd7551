// The capture layer's links into the handling pipeline: hand-overs become the pipeline's
// exception objects, and the pipeline asks the capture layer for raise records, the address
// check and thread creators.
#include <memory>

#include "capture_lifecycle_win.h"
#include "capture_points_win.h"
#include "exception_classes.h"
#include "process_registries.h"
#include "pipeline_win.h"
#include "thread_info_win.h"
#include "thread_names_win.h"
#include "thread_sections_win.h"

namespace qx {

namespace {

void PipelineHandOver(const CaptureRecord& record) {
  std::unique_ptr<Exception> object;
  if (record.object != nullptr && record.object->className == "BcbTermination")
    object = std::make_unique<BcbTermination>(record.object->message);
  else
    object = std::make_unique<QelException>(record.object ? record.object->message : "");
  HandOverException(record.type, object.get(), record.address, nullptr, nullptr, nullptr,
                    record.source, record.context, record.framePointer, record.stackPointer,
                    record.canContinue);
}

bool RaiseRecord(void*& object, uint32_t& address, CONTEXT& context, bool& hasContext) {
  object = nullptr;
  hasContext = ThreadRaiseRecord(address, context);
  return hasContext;
}

uint32_t CheckAddress(void*, uint32_t address) { return CheckExceptionAddress(address); }

uint32_t CreatorAddress(DWORD threadId) {
  ThreadInfoRecord record;
  bool found = false;
  return FindThreadInfo(threadId, 50, record, found) && found ? record.creatorAddress : 0;
}

// The capture points make operating-system exceptions (sources 13, 14, 16) QelException
// objects: those count as external.
bool ClassIs(IKVException* exception, const char* name) {
  if (ExceptionInheritsFrom(exception->ExceptionObject(), name)) return true;
  const uint8_t source = exception->Source();
  return std::string(name) == "EExternal" && (source == 13 || source == 14 || source == 16);
}

bool TraceProcessRunning() { return TraceRunning(); }

}  // namespace

void LinkCaptureToPipeline() {
  if (CaptureHandOver == nullptr) CaptureHandOver = PipelineHandOver;
  PipelineLinks().threadExceptionRecord = RaiseRecord;
  PipelineLinks().clearThreadExceptionRecord = ClearThreadRaiseRecord;
  PipelineLinks().checkExceptionAddress = CheckAddress;
  PipelineLinks().threadCreatorAddress = CreatorAddress;
  if (ExceptionClassIsHook == nullptr) ExceptionClassIsHook = ClassIs;
  TraceProcessRunningHook = TraceProcessRunning;
  ThreadNameHook = ThreadName;
}

void UnlinkCaptureFromPipeline() {
  if (CaptureHandOver == PipelineHandOver) CaptureHandOver = nullptr;
  PipelineLinks().threadExceptionRecord = nullptr;
  PipelineLinks().clearThreadExceptionRecord = nullptr;
  PipelineLinks().checkExceptionAddress = nullptr;
  PipelineLinks().threadCreatorAddress = nullptr;
  if (ExceptionClassIsHook == ClassIs) ExceptionClassIsHook = nullptr;
  TraceProcessRunningHook = nullptr;
  ThreadNameHook = nullptr;
}

}  // namespace qx
