#include "send_report_win.h"

#include <new>

#include "com_ptr_win.h"
#include "desktop_mail_win.h"
#include "desktop_visibility_win.h"
#include "mail_addresses.h"
#include "mail_job_win.h"
#include "online_check_win.h"
#include "placeholders.h"
#include "progress_alert_win.h"
#include "report_file_win.h"
#include "report_hooks_win.h"
#include "report_layout.h"
#include "send_attachments_win.h"
#include "send_plan.h"
#include "send_progress_win.h"
#include "settings_open_win.h"

namespace qx {

namespace {

constexpr DWORD kBlockedLimitMs = 250;
constexpr uint64_t kStepWeight = 100;

// Subject, body, recipients and sender of one send, placeholders expanded.
struct MailTexts {
  std::string subject, body, recipients, sender;
};

MailTexts ReadMailTexts(IKVSettings* settings, const std::string& report) {
  MailTexts texts;
  texts.recipients = settings->GetMailAddr();
  texts.sender = MailSender(settings->GetMailFrom(), texts.recipients);
  ExceptionTexts exception{ReadHeaderValue(report, "exception class"),
                           ReadHeaderValue(report, "exception message"), report};
  HMODULE module = settings->ModuleHandle();
  texts.subject = ExpandSettingsText(module, settings->GetMailSubj(), &exception);
  texts.body = ExpandSettingsText(module, settings->GetMailBody(), &exception);
  return texts;
}

ChannelSwitches ReadSwitches(IKVSettings* settings) {
  ChannelSwitches switches;
  switches.uploadViaHttp = settings->GetUploadViaHttp();
  switches.mailAsSmtpServer = settings->GetMailAsSmtpServer();
  switches.mailAsSmtpClient = settings->GetMailAsSmtpClient();
  switches.mailViaMapi = settings->GetMailViaMapi();
  return switches;
}

bool WindowsSeen() { return WindowsCanBeSeen(ReporterModule() == GetModuleHandleA(nullptr)); }

// ---- the background thread ----

HMODULE PinThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCSTR>(&PinThisModule), &module);
  return module;
}

void FreeRecord(TSendBugReportExRec* record) {
  if (record->screenshot != nullptr) record->screenshot->Release();
  if (record->settings != nullptr) record->settings->Release();
  delete record;
}

DWORD WINAPI SendThread(void* parameter) {
  auto* record = static_cast<TSendBugReportExRec*>(parameter);
  SendRequest request;
  request.report = std::move(record->report);
  request.screenshot = record->screenshot;
  request.inThread = true;
  request.settings = record->settings;
  request.background = true;
  request.hidden = record->hidden;
  SendReportEx(request);
  FreeRecord(record);
  return 0;
}

// The thread holds the module for as long as it runs, so that an unload meanwhile waits
// for the send rather than pull the code from under it.
DWORD WINAPI PinnedSendThread(void* parameter) {
  HMODULE pinned = PinThisModule();
  SendThread(parameter);
  if (pinned != nullptr) FreeLibraryAndExitThread(pinned, 0);
  return 0;
}

bool StartBackgroundSend(const SendRequest& request) {
  if (!request.background || request.inThread || ProcessIsBlocked(kBlockedLimitMs)) return false;
  DropTopmost(request.parent);
  auto* record = new (std::nothrow) TSendBugReportExRec{};
  if (record == nullptr) return false;
  record->report = request.report;
  record->screenshot = request.screenshot;
  if (record->screenshot != nullptr) record->screenshot->AddRef();
  record->hidden = request.hidden;
  record->settings = request.settings;
  if (record->settings != nullptr) record->settings->AddRef();
  HANDLE thread = CreateThread(nullptr, 0, PinnedSendThread, record, 0, nullptr);
  if (thread == nullptr) {
    FreeRecord(record);
    return false;
  }
  if (request.threadSlot != nullptr) {
    *request.threadSlot = thread;
  } else {
    CloseHandle(thread);
  }
  return true;
}

// ---- the progress window ----

ComPtr<IProgressAlert> OpenSendProgress(IKVSettings* settings, NetworkChannel channel,
                                        bool hasAttachments, const SendRequest& request) {
  ComPtr<IProgressAlert> progress =
      CreateProgressWindow(settings->GetSendBoxTitle(), settings->ModuleHandle(), "KVISEND32");
  if (!progress) return progress;
  for (const std::string& step :
       SendProgressSteps(channel, hasAttachments, ReadSendStepTexts(settings)))
    progress->AppendArea(step, kStepWeight);
  const bool wanted = !request.hidden || settings->GetAutoSendBox();
  if (wanted && WindowsSeen())
    progress->Show(request.inThread ? nullptr : request.parent, !request.hidden);
  return progress;
}

// ---- the channels ----

bool SendOverNetwork(NetworkChannel channel, IKVSettings* settings, const MailTexts& texts,
                     const SendFiles& files, IKVFields* fields, IProgressAlert* progress,
                     bool hidden) {
  MailJob job;
  job.sender = texts.sender;
  job.recipients = texts.recipients;
  job.settings = settings;
  job.progress = progress;
  job.filePaths = files.Paths();
  job.sendAsNames = files.SendAsNames();
  job.fieldNames = files.FieldNames();
  job.body = texts.body;
  job.subject = texts.subject;
  switch (channel) {
    case NetworkChannel::kHttp:
      job.httpAddress = settings->GetHttpServer();
      if (job.httpAddress.empty() || !IsOnline(!hidden)) return false;
      job.port = static_cast<uint16_t>(settings->GetHttpPort());
      job.account = settings->GetHttpAccount();
      job.password = settings->GetHttpPassword();
      job.fields = fields;
      break;
    case NetworkChannel::kSmtpDirect:
      if (texts.recipients.empty() || !IsOnline(!hidden)) return false;
      job.port = 25;
      break;
    case NetworkChannel::kSmtpServer:
      job.server = settings->GetSmtpServer();
      if (texts.recipients.empty() || job.server.empty() || !IsOnline(!hidden)) return false;
      job.port = static_cast<uint16_t>(settings->GetSmtpPort());
      job.account = settings->GetSmtpAccount();
      job.password = settings->GetSmtpPassword();
      break;
    case NetworkChannel::kNone:
      return false;
  }
  return SendMailOrUpload(job);
}

// The "AddFields" list with the mail texts set where they are not empty.
ComPtr<IKVFields> FormFields(IKVSettings* settings, const MailTexts& texts) {
  ComPtr<IKVFields> listed = ComPtr<IKVFields>::Adopt(settings->AddFields());
  if (!listed) return listed;
  ComPtr<IKVFields> fields = ComPtr<IKVFields>::Adopt(listed->Clone());
  if (!fields) return fields;
  const std::pair<const char*, const std::string*> values[] = {
      {"MailFrom", &texts.sender}, {"MailSubject", &texts.subject},
      {"MailBody", &texts.body}, {"MailAddr", &texts.recipients}};
  for (const auto& [name, value] : values)
    if (!value->empty()) fields->SetContent(name, *value);
  return fields;
}

// Nobody is there to answer a window: say in the report file what it would have said.
void TellUnseen(IKVSettings* settings, const std::string& message) {
  std::string line = "Not shown (no visible desktop): " + message;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  AppendReportFileLine(settings, line);
}

uint8_t HandOffToDesktop(IKVSettings* settings, const MailTexts& texts, const SendFiles& files,
                         const SendRequest& request) {
  const bool seen = WindowsSeen();
  MailOutcome outcome = kMailFailed;
  if (settings->GetMailViaMapi()) {
    // A mail dialog nobody can see would wait for ever.
    std::string list = texts.recipients;
    const bool dialog = MapiSendFlags(request.hidden, CountMailAddrs(list)) != 0;
    if (seen || !dialog)
      outcome = SendMapiMail(texts.recipients, texts.subject, texts.body, request.hidden,
                             request.parent, files.SendAsNames(), files.Paths());
    if (outcome == kMailCancelled) return kMailCancelled;
  }
  if (outcome == kMailFailed && settings->GetMailViaMailto() && !request.hidden && seen) {
    DropTopmost(request.parent);
    if (SendMailtoLink(texts.recipients, texts.subject, request.report)) outcome = kMailSent;
  }
  if (outcome == kMailFailed && !request.hidden) {
    if (seen) {
      MessageBoxA(request.parent, settings->GetSendFailMsg().c_str(),
                  settings->GetTitleBar().c_str(), MB_OK | MB_ICONERROR);
    } else {
      TellUnseen(settings, settings->GetSendFailMsg());
    }
  }
  return outcome;
}

void MarkSent(IKVSettings* settings, const SendFiles& files) {
  ComPtr<IKVExceptionEx> ex = ComPtr<IKVSettings>(settings).As<IKVExceptionEx>(IID_IKVExceptionEx);
  if (ex) ex->SetSent(true);
  if (!files.DeletableReportFile().empty() && settings->GetDelBugRepFile())
    DeleteFileForGood(files.DeletableReportFile());
}

uint8_t SendNow(const SendRequest& request, IKVSettings* settings) {
  const MailTexts texts = ReadMailTexts(settings, request.report);
  const ChannelSwitches switches = ReadSwitches(settings);
  const NetworkChannel channel = FirstNetworkChannel(switches);
  SendFiles files;
  ComPtr<IProgressAlert> progress;
  if (NeedsAttachments(switches)) {
    files.AddReport(settings, request.report);
    files.AddScreenshot(settings, request.screenshot);
    files.AddListed(settings);
    // The window shows the network steps; a hand-off to the mail program has none.
    if (channel != NetworkChannel::kNone)
      progress = OpenSendProgress(settings, channel, !files.Empty(), request);
    files.Pack(progress.Get());
  }
  ComPtr<IKVFields> fields = FormFields(settings, texts);
  const bool delivered =
      SendOverNetwork(channel, settings, texts, files, fields.Get(), progress.Get(), request.hidden);
  if (progress) progress->Close();
  progress = nullptr;
  const uint8_t outcome =
      delivered ? static_cast<uint8_t>(kMailSent) : HandOffToDesktop(settings, texts, files, request);
  if (outcome == kMailSent) MarkSent(settings, files);
  return outcome;
}

}  // namespace

uint8_t SendReportEx(const SendRequest& request) {
  try {
    if (StartBackgroundSend(request)) return kMailSent;
    ComPtr<IKVSettings> settings(request.settings);
    if (!settings) settings = ComPtr<IKVSettings>(MainSettings().Get());
    if (!settings) return kMailFailed;
    return SendNow(request, settings.Get());
  } catch (...) {
    return kMailFailed;
  }
}

uint8_t SendExceptionReport(IKVException* exception, IScreenshot* screenshot, HWND parent,
                            bool hidden) {
  if (exception == nullptr) return kMailFailed;
  uint8_t outcome = kMailFailed;
  try {
    ComPtr<IKVExceptionEx> ex =
        ComPtr<IKVException>(exception).As<IKVExceptionEx>(IID_IKVExceptionEx);
    HANDLE* slot = ex ? ex->SendThreadHandle() : nullptr;
    if (slot != nullptr && *slot != nullptr) {
      CloseHandle(*slot);
      *slot = nullptr;
    }
    SendRequest request;
    request.report = exception->GetReportText(true);
    request.screenshot = screenshot;
    request.parent = parent;
    request.threadSlot = slot;
    request.settings = exception;
    request.background = exception->GetSendInBackgr();
    request.hidden = hidden;
    outcome = SendReportEx(request);
  } catch (...) {
    outcome = kMailFailed;
  }
  SetCursor(LoadCursor(nullptr, IDC_ARROW));
  return outcome;
}

}  // namespace qx
