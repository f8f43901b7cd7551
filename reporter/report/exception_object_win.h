// The exception object: the facts of one fault, a private overlay of the reporter's
// settings, and its bug report — header fields gathered at once, sections filled in by a
// completion step in the background, the assembled text cached per change, and report
// callbacks told of every change.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "com_ptr_win.h"
#include "progress_alert_win.h"
#include "report_hooks_win.h"
#include "report_interfaces_win.h"
#include "field_lists_win.h"
#include "settings_object_win.h"
#include "sync_win.h"

namespace qx {

// What the pipeline knows of a fault when it creates the exception object.
struct ExceptionFacts {
  uint8_t type = 0;  // 0 exception, 1 freeze or report without exception, 2 handled
  void* object = nullptr;
  uint32_t address = 0;
  uint32_t crashedThreadId = 0;  // 0: the creating thread
  uint32_t stackPointer = 0;
  uint32_t framePointer = 0;
  const CONTEXT* context = nullptr;  // copied
  uint8_t source = 0;
  void* relatedObject = nullptr;
  HMODULE package = nullptr;
  bool canContinue = true;
  bool dontCompleteYet = false;
  std::shared_ptr<void> preparedStack;
};

// The process-wide count of headers built; the first report shows 1.
uint64_t CurrentExceptionNumber();

class TIKVException final : public TIKVSettings,
                            public IKVException,
                            public IKVExceptionEx,
                            private FieldListOwner {
 public:
  TIKVException(IKVModuleSettings* moduleSettings, const ExceptionFacts& facts);

  HRESULT __stdcall QueryInterface(REFIID iid, void** object) override;
  ULONG __stdcall AddRef() override { return TIKVSettings::AddRef(); }
  ULONG __stdcall Release() override { return TIKVSettings::Release(); }

  // Reads consult this exception's own overrides first; writes go into them.
  bool __stdcall ReadBool(const char* name) override;
  int32_t __stdcall ReadInt(const char* name) override;
  std::string __stdcall ReadText(const char* name) override;
  uint32_t __stdcall ReadUInt(const char* name) override;
  bool WriteBool(const char* name, bool value) override;
  bool WriteInt(const char* name, int32_t value) override;
  bool WriteText(const char* name, const std::string& value) override;

  QX_IKVSETTINGS_SLOTS(QX_IMPL_GET, QX_IMPL_SET, QX_IMPL_OP)
  HMODULE __stdcall ModuleHandle() override { return TIKVSettings::ModuleHandle(); }
  IKVFields* __stdcall AddFields() override { return TIKVSettings::AddFields(); }
  IKVAttachments* __stdcall AddAttachs() override { return TIKVSettings::AddAttachs(); }
  bool __stdcall PluginEnabled(const std::string& name) override {
    return TIKVSettings::PluginEnabled(name);
  }
  void __stdcall SwitchPlugin(const std::string& name, bool on) override {
    TIKVSettings::SwitchPlugin(name, on);
  }
  std::string __stdcall Version() override { return TIKVSettings::Version(); }
  IAssistant* __stdcall OpenAssistant(const std::string& name) override {
    return TIKVSettings::OpenAssistant(name);
  }

  // IKVException
  uint8_t __stdcall Phase() override { return phase_; }
  bool __stdcall CanContinue() override { return canContinue_; }
  void __stdcall SetCanContinue(bool value) override;
  uint8_t __stdcall ExceptionType() override { return facts_.type; }
  void* __stdcall ExceptionObject() override { return facts_.object; }
  std::string __stdcall ExceptionClass() override;
  std::string __stdcall ExceptionMessage() override;
  uint32_t __stdcall ExceptionAddress() override { return facts_.address; }
  uint32_t __stdcall CrashedThreadId() override { return facts_.crashedThreadId; }
  uint32_t __stdcall CallstackCrc(int32_t index) override;
  const CONTEXT* __stdcall Context() override { return hasContext_ ? &context_ : nullptr; }
  uint8_t __stdcall Source() override { return facts_.source; }
  void* __stdcall RelatedObject() override { return facts_.relatedObject; }
  HMODULE __stdcall Package() override { return facts_.package; }
  IKVFields* __stdcall HeaderFields() override;
  IKVFields* __stdcall ReportSections() override;
  std::string __stdcall ReportText() override { return GetReportText(true); }
  void __stdcall SetReportText(const std::string& text) override;
  std::string __stdcall GetReportText(bool mustBeComplete) override;
  IScreenshot* __stdcall Screenshot() override;
  void __stdcall SetScreenshot(IScreenshot* bitmap) override;
  void __stdcall BeginUpdate() override { ++updateDepth_; }
  void __stdcall EndUpdate() override;
  void __stdcall AddReportCallback(TDABugReportCallback callback, bool critical) override;
  void __stdcall AddReportCallbackOO(TDABugReportCallbackOO code, void* object,
                                     bool critical) override;
  void __stdcall RemoveReportCallback(TDABugReportCallback callback) override;
  void __stdcall RemoveReportCallbackOO(TDABugReportCallbackOO code, void* object) override;
  bool __stdcall WantReport() override { return wantReport_; }
  void __stdcall SetWantReport(bool value) override { wantReport_ = value; }
  bool __stdcall WantScreenshot() override { return wantScreenshot_; }
  void __stdcall SetWantScreenshot(bool value) override { wantScreenshot_ = value; }
  bool __stdcall CallHandlers() override { return callHandlers_; }
  void __stdcall SetCallHandlers(bool value) override { callHandlers_ = value; }
  bool __stdcall AttachScreenshot() override { return attachScreenshot_; }
  void __stdcall SetAttachScreenshot(bool value) override { attachScreenshot_ = value; }
  uint32_t __stdcall ShowMode() override { return showMode_; }
  void __stdcall SetShowMode(uint32_t value) override { showMode_ = value; }
  std::string __stdcall AssistantName() override;
  void __stdcall SetAssistantName(const std::string& name) override;
  void __stdcall Show() override;
  bool __stdcall ShowReport(HWND parent) override { return RunAction(kActionShow, parent); }
  bool __stdcall SendReport(HWND parent) override { return RunAction(kActionSend, parent); }
  bool __stdcall SaveReport(HWND parent) override;
  bool __stdcall PrintReport(HWND parent) override { return RunAction(kActionPrint, parent); }
  bool __stdcall ContinueProgram(HWND parent) override {
    return RunAction(kActionContinue, parent);
  }
  bool __stdcall RestartProgram(HWND parent) override { return RunAction(kActionRestart, parent); }
  bool __stdcall CloseProgram(HWND parent) override { return RunAction(kActionClose, parent); }

  // IKVExceptionEx
  bool __stdcall CriticalCallbackExists() override;
  uint32_t __stdcall CompletionThreadId() override { return completionThreadId_; }
  void __stdcall SetPhase(uint8_t phase) override;
  bool __stdcall Sent() override { return sent_; }
  void __stdcall SetSent(bool value) override { sent_ = value; }
  bool __stdcall AutoSaved() override { return autoSaved_; }
  void __stdcall SetAutoSaved(bool value) override { autoSaved_ = value; }
  bool __stdcall IsFirstCompletionCallback() override { return ++firstCompletionCallback_ == 0; }
  bool __stdcall IsFirstAutoSave() override { return ++firstAutoSave_ == 0; }
  HANDLE* __stdcall SendThreadHandle() override { return &sendThread_; }

  // Whether every section has been filled.
  bool Complete() const { return complete_; }
  // The progress window shown while a caller waits for the complete report.
  void SetProgressWindow(ComPtr<IProgressAlert> window) { progress_ = std::move(window); }
  bool HasProgressWindow() const { return static_cast<bool>(progress_); }
  // The window itself (null without one): the thread sections give it one area per thread.
  IProgressAlert* ProgressWindow() const { return progress_.Get(); }
  const std::shared_ptr<void>& PreparedStack() const { return facts_.preparedStack; }
  // The stack and frame pointer recorded for the crashed thread when the exception was
  // made (the capture point's, or the caller's of a report without exception).
  uint32_t RecordedStackPointer() const { return facts_.stackPointer; }
  uint32_t RecordedFramePointer() const { return facts_.framePointer; }
  // Stops the completion: the running trace ends at its next check, no further section is
  // computed, and the report stays as far as it got.
  void Abort() { abortCompletion_ = true; }
  // Set once the report is released or aborted; read by every trace of its threads.
  const std::atomic<bool>& AbortFlag() const { return abortCompletion_; }

 protected:
  ~TIKVException() override;
  bool ScreenshotAvailable() override;
  IUnknown* AssistantContext() override { return static_cast<IKVException*>(this); }

 private:
  struct Override {
    std::string name;
    PropertyKind kind = PropertyKind::Text;
    bool boolValue = false;
    int32_t intValue = 0;
    std::string text;
  };
  struct ProcedureCallback {
    TDABugReportCallback callback;
    bool critical;
  };
  struct MethodCallback {
    TDABugReportCallbackOO code;
    void* object;
    bool critical;
  };
  struct PluginSection {
    ReportPlugin plugin;
  };

  // FieldListOwner
  void OwnerBeginUpdate() override { BeginUpdate(); }
  void OwnerEndUpdate() override { EndUpdate(); }
  void OwnerModified() override { MarkModified(); }

  template <class Use>
  bool WithOverride(const char* name, Use&& use);
  template <class Change>
  bool WriteOverride(const char* name, PropertyKind kind, Change&& change);

  void Describe();
  void BuildHeader();
  void BuildSections();
  void StartCompletion();
  static DWORD WINAPI CompletionThread(void* parameter);
  void RunCompletion();
  void SectionUpdate(const std::string& name, const std::string& text);
  void WaitForCompletion();
  std::string AssembleText();
  void MarkModified();
  // Closes the bracket around a first build of a list without firing the change event.
  void EndBuildUpdate();
  void FireChangeEvent();
  bool RunAction(int32_t action, HWND parent);
  bool Aborting() const { return abortCompletion_; }

  ComPtr<IKVModuleSettings> moduleSettings_;
  CriticalSection overridesLock_;
  std::vector<Override> overrides_;
  std::atomic<uint8_t> phase_{1};
  std::atomic<bool> canContinue_{true};
  std::atomic<bool> canContinueAllowed_{true};
  ExceptionFacts facts_;
  CONTEXT context_{};
  bool hasContext_ = false;
  uint32_t callstackCrc_[3] = {0, 0, 0};

  CriticalSection buildLock_;
  ComPtr<IKVFields> header_;
  ComPtr<IKVFields> sections_;
  bool headerBuilt_ = false;
  bool sectionsBuilt_ = false;
  std::unique_ptr<ReportSectionProducer> producer_;
  std::vector<std::string> threadTitles_;
  std::vector<ReportPlugin> sectionPlugins_;
  bool placedRegisters_ = false, placedStackDump_ = false, placedDisassembly_ = false;
  std::atomic<long> pendingSections_{0};
  std::atomic<bool> completionStarted_{false};

  CriticalSection textLock_;
  std::string reportText_;
  uint64_t changeCounter_ = 0;
  std::atomic<bool> complete_{false};
  std::atomic<long> updateDepth_{0};
  std::atomic<bool> dirty_{false};

  CriticalSection screenshotLock_;
  ComPtr<IScreenshot> screenshot_;
  bool screenshotTaken_ = false;

  std::vector<ProcedureCallback> procedures_;
  std::vector<MethodCallback> methods_;

  std::atomic<bool> wantReport_{true};
  std::atomic<bool> wantScreenshot_{false};
  std::atomic<bool> callHandlers_{true};
  std::atomic<bool> attachScreenshot_{false};
  std::atomic<uint32_t> showMode_{0};
  CriticalSection assistantLock_;
  std::string assistantName_;

  std::atomic<HANDLE> completionThread_{nullptr};
  std::atomic<DWORD> completionThreadId_{0};
  // Set by the completion thread when it has left its work (its exit may still wait).
  HANDLE completionLeft_ = nullptr;
  std::atomic<bool> abortCompletion_{false};
  ComPtr<IProgressAlert> progress_;
  std::atomic<bool> sent_{false};
  std::atomic<bool> autoSaved_{false};
  std::atomic<long> firstCompletionCallback_{-1};
  std::atomic<long> firstAutoSave_{-1};
  HANDLE sendThread_ = nullptr;

  CriticalSection describeLock_;
  bool described_ = false;
  std::string className_;
  std::string message_;
  SYSTEMTIME time_{};
};

// Creates an exception object for the module of `moduleSettings` (which it keeps).
ComPtr<IKVException> CreateTIKVException(IKVModuleSettings* moduleSettings,
                                         const ExceptionFacts& facts);

// The input of an assistant the user finished, as the report takes it.
struct AssistantItemInput {
  enum class Kind { CheckBox, Edit, Other } kind = Kind::Other;
  std::string outputName;
  bool checked = false;
  std::string text;
  bool ownSectionOutput = false;  // the own-section output type
};
struct AssistantFormInput {
  int32_t result = 0;  // 1 continue, 2 skip, 3 cancel
  std::vector<AssistantItemInput> items;
};
void PutAssistantIntoReport(IKVException* exception, const std::vector<AssistantFormInput>& forms);

}  // namespace qx
