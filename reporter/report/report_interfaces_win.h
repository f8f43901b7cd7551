// The exception object's interfaces, the report callbacks and the process-wide list of
// report plug-ins. Slot order is binary contract between reporter copies of a process.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstdint>
#include <string>

#include "settings_interfaces_win.h"

namespace qx {

inline constexpr GUID IID_IKVException = {
    0x6d1f2a60, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x20}};
inline constexpr GUID IID_IKVExceptionEx = {
    0x6d1f2a61, 0x3b7c, 0x4e51, {0x9a, 0x0e, 0x51, 0x7c, 0x2d, 0x84, 0x11, 0x21}};

struct IKVException;

// Report callbacks: told the report text whenever the report changes.
using TDABugReportCallback = void(__stdcall*)(bool complete, const std::string& report,
                                              IKVException* exception);
// The method form: the code is called with its object first.
using TDABugReportCallbackOO = void(__stdcall*)(void* self, bool complete,
                                                const std::string& report,
                                                IKVException* exception);

// A screenshot (the bitmap object of the attachments).
using IScreenshot = IUnknown;

// Action codes of the handling pipeline that the report actions use.
enum ReportAction : int32_t {
  kActionSend = 0,
  kActionSave = 1,
  kActionPrint = 2,
  kActionShow = 3,        // posts the box's show-report message; no handler is asked
  kActionShowDetails = 6,  // the box's show and details buttons
  kActionHelp = 7,         // F1 in the box
  kActionContinue = 8,
  kActionRestart = 9,
  kActionClose = 10,
};

struct IKVException : public IKVSettings {
  virtual uint8_t __stdcall Phase() = 0;
  virtual bool __stdcall CanContinue() = 0;
  virtual void __stdcall SetCanContinue(bool value) = 0;
  virtual uint8_t __stdcall ExceptionType() = 0;
  virtual void* __stdcall ExceptionObject() = 0;
  virtual std::string __stdcall ExceptionClass() = 0;
  virtual std::string __stdcall ExceptionMessage() = 0;
  virtual uint32_t __stdcall ExceptionAddress() = 0;
  virtual uint32_t __stdcall CrashedThreadId() = 0;
  virtual uint32_t __stdcall CallstackCrc(int32_t index) = 0;
  virtual const CONTEXT* __stdcall Context() = 0;
  virtual uint8_t __stdcall Source() = 0;
  virtual void* __stdcall RelatedObject() = 0;
  virtual HMODULE __stdcall Package() = 0;
  virtual IKVFields* __stdcall HeaderFields() = 0;    // a new reference
  virtual IKVFields* __stdcall ReportSections() = 0;  // a new reference
  virtual std::string __stdcall ReportText() = 0;
  virtual void __stdcall SetReportText(const std::string& text) = 0;
  virtual std::string __stdcall GetReportText(bool mustBeComplete) = 0;
  virtual IScreenshot* __stdcall Screenshot() = 0;  // a new reference, or null
  virtual void __stdcall SetScreenshot(IScreenshot* bitmap) = 0;
  virtual void __stdcall BeginUpdate() = 0;
  virtual void __stdcall EndUpdate() = 0;
  virtual void __stdcall AddReportCallback(TDABugReportCallback callback, bool critical) = 0;
  virtual void __stdcall AddReportCallbackOO(TDABugReportCallbackOO code, void* object,
                                             bool critical) = 0;
  virtual void __stdcall RemoveReportCallback(TDABugReportCallback callback) = 0;
  virtual void __stdcall RemoveReportCallbackOO(TDABugReportCallbackOO code, void* object) = 0;
  virtual bool __stdcall WantReport() = 0;
  virtual void __stdcall SetWantReport(bool value) = 0;
  virtual bool __stdcall WantScreenshot() = 0;
  virtual void __stdcall SetWantScreenshot(bool value) = 0;
  virtual bool __stdcall CallHandlers() = 0;
  virtual void __stdcall SetCallHandlers(bool value) = 0;
  virtual bool __stdcall AttachScreenshot() = 0;
  virtual void __stdcall SetAttachScreenshot(bool value) = 0;
  virtual uint32_t __stdcall ShowMode() = 0;
  virtual void __stdcall SetShowMode(uint32_t value) = 0;
  virtual std::string __stdcall AssistantName() = 0;
  virtual void __stdcall SetAssistantName(const std::string& name) = 0;
  virtual void __stdcall Show() = 0;
  virtual bool __stdcall ShowReport(HWND parent) = 0;
  virtual bool __stdcall SendReport(HWND parent) = 0;
  virtual bool __stdcall SaveReport(HWND parent) = 0;
  virtual bool __stdcall PrintReport(HWND parent) = 0;
  virtual bool __stdcall ContinueProgram(HWND parent) = 0;
  virtual bool __stdcall RestartProgram(HWND parent) = 0;
  virtual bool __stdcall CloseProgram(HWND parent) = 0;
};

struct IKVExceptionEx : public IUnknown {
  virtual bool __stdcall CriticalCallbackExists() = 0;
  virtual uint32_t __stdcall CompletionThreadId() = 0;
  virtual void __stdcall SetPhase(uint8_t phase) = 0;
  virtual bool __stdcall Sent() = 0;
  virtual void __stdcall SetSent(bool value) = 0;
  virtual bool __stdcall AutoSaved() = 0;
  virtual void __stdcall SetAutoSaved(bool value) = 0;
  virtual bool __stdcall IsFirstCompletionCallback() = 0;
  virtual bool __stdcall IsFirstAutoSave() = 0;
  virtual HANDLE* __stdcall SendThreadHandle() = 0;
};

// Plug-ins: one of the four callbacks is set; the first set one in this order is called.
using PluginTextCallback = std::string (*)();
using PluginWideTextCallback = std::wstring (*)();
using PluginExceptionTextCallback = std::string (*)(IKVException* exception);
using PluginExceptionWideTextCallback = std::wstring (*)(IKVException* exception);

struct ReportPlugin {
  std::string name;
  std::string description;
  PluginTextCallback text = nullptr;
  PluginWideTextCallback wideText = nullptr;
  PluginExceptionTextCallback exceptionText = nullptr;
  PluginExceptionWideTextCallback exceptionWideText = nullptr;
  bool ownSection = false;
};

}  // namespace qx
