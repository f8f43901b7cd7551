#include "default_settings.h"

#include <cstring>

namespace qx {

namespace {

// The table is constant; the casts only fit it into the shared record layout, whose
// pointers are writable because records made from a stream own their texts.
constexpr TSettingsProperty Boolean(const char* name, int value) {
  return {const_cast<char*>(name), PropertyKind::Boolean, static_cast<uint8_t>(value), 0,
          nullptr};
}
constexpr TSettingsProperty Integer(const char* name, int32_t value) {
  return {const_cast<char*>(name), PropertyKind::Integer, 0, value, nullptr};
}
constexpr TSettingsProperty Text(const char* name, const char* value) {
  return {const_cast<char*>(name), PropertyKind::Text, 0, 0,
          value[0] == '\0' ? nullptr : const_cast<char*>(value)};
}

}  // namespace

// Several entries are stored as Boolean false although they are read as integers
// (FocusedBtn, DupExceptDef, DupFreezeDef, the ShowCfg entries): they read as 0.
const TSettingsProperty DefaultSettings[kDefaultSettingsCount] = {
    Boolean("Enabled", 0),
    Boolean("NoSettings", 1),
    Boolean("CheckFileCrc", 1),
    Boolean("CheckFreeze", 0),
    Integer("FreezeTimeout", 60),
    Boolean("AutoSave", 1),
    Boolean("AutoSaveIfNotSent", 1),
    Boolean("AutoSend", 0),
    Boolean("AutoSendBox", 0),
    Boolean("AutoClip", 1),
    Boolean("PauseThreads", 0),
    Boolean("PlWaitBox", 1),
    Boolean("AutoContinue", 0),
    Integer("AutoRestart", 0),
    Integer("AutoClose", 0),
    Integer("AutoDelay", 60),
    Boolean("SendBtnVis", 1),
    Boolean("SaveBtnVis", 0),
    Boolean("PrintBtnVis", 0),
    Boolean("ShowBtnVis", 1),
    Boolean("ContinueBtnVis", 1),
    Boolean("RestartBtnVis", 1),
    Boolean("CloseBtnVis", 1),
    Boolean("FocusedBtn", 0),
    Text("SendAssis", ""),
    Text("SaveAssis", ""),
    Text("PrintAssis", ""),
    Boolean("AutoShowBugRep", 0),
    Boolean("UglyBtns", 0),
    Text("MailAddr", ""),
    Boolean("SendInBackgr", 1),
    Boolean("MailAsSmtpServer", 0),
    Boolean("MailAsSmtpClient", 0),
    Boolean("UploadViaHttp", 0),
    Boolean("MailViaMapi", 1),
    Boolean("MailViaMailto", 1),
    Text("SmtpServer", ""),
    Text("SmtpAccount", ""),
    Integer("SmtpPort", 25),
    Text("SmtpPassword", ""),
    Text("HttpServer", ""),
    Text("HttpAccount", ""),
    Integer("HttpPort", 80),
    Text("HttpPassword", ""),
    Text("MailFrom", ""),
    Text("AddFields", ""),
    Boolean("AttachBugRep", 1),
    Boolean("AttachBugRepFile", 1),
    Boolean("DelBugRepFile", 1),
    Text("BugRepSendAs", "bugreport.txt"),
    Text("BugRepZip", ""),
    Integer("ScrShotDepth", 0),
    Boolean("ScrShotAppOnly", 1),
    Text("ScrShotSendAs", "screenshot.png"),
    Text("ScrShotZip", ""),
    Text("AddAttachs", ""),
    Text("BugRepFile", "bugreport.txt"),
    Boolean("AppendBugReps", 1),
    Integer("BugRepFileSize", 100000),
    Boolean("NoDupExcepts", 1),
    Boolean("NoDupFreezes", 1),
    Boolean("DupExceptDef", 0),
    Boolean("DupFreezeDef", 0),
    Boolean("ListThreads", 1),
    Boolean("CpuRegs", 1),
    Boolean("StackDump", 1),
    Boolean("ShowDisAsm", 1),
    Boolean("HideUglyItems", 0),
    Boolean("ShowRelAddrs", 1),
    Boolean("ShowRelLines", 1),
    Boolean("FormatDisAsm", 0),
    Integer("LimitDisAsm", 5),
    Text("Plugins", "modules|processes|hardware"),
    Integer("VersionVar", 0),
    Text("F1Classes", ""),
    Text("F2Classes", ""),
    Boolean("F1NoBugRep", 0),
    Boolean("F2NoBugRep", 0),
    Boolean("GnNoBugRep", 0),
    Boolean("F1NoScrShot", 0),
    Boolean("F2NoScrShot", 0),
    Boolean("GnNoScrShot", 0),
    Boolean("F1NoHandlers", 0),
    Boolean("F2NoHandlers", 0),
    Boolean("GnNoHandlers", 0),
    Boolean("F1NoSuspend", 0),
    Boolean("F2NoSuspend", 0),
    Boolean("GnNoSuspend", 0),
    Boolean("F1ShowCfg", 0),
    Boolean("F2ShowCfg", 0),
    Boolean("GnShowCfg", 0),
    Text("F1Assis", ""),
    Text("F2Assis", ""),
    Text("GnAssis", ""),
    Text("TitleBar", "%appname%"),
    Text("ExceptMsg", "An error occurred in the application."),
    Text("FrozenMsg", "The application seems to be frozen."),
    Text("BitFaultMsg", "The file \"%modname%\" seems to be corrupt!"),
    Text("SendBtnTxt", "send bug report"),
    Text("SaveBtnTxt", "save bug report"),
    Text("PrintBtnTxt", "print bug report"),
    Text("ShowBtnTxt", "show bug report"),
    Text("ContinueBtnTxt", "continue bug report"),
    Text("RestartBtnTxt", "restart bug report"),
    Text("CloseBtnTxt", "close bug report"),
    Text("OkBtnTxt", "&OK"),
    Text("DetailsBtnTxt", "&Details"),
    Text("PlWaitTitle", "Information"),
    Text("PlWaitText", "Please wait a moment..."),
    Text("MailSubj", "bug report"),
    Text("MailBody", "please find the bug report attached"),
    Text("SendBoxTitle", "Sending bug report..."),
    Text("PrepAttMsg", "Prepare attachments..."),
    Text("MxLookMsg", "Searching for mail server..."),
    Text("ConnMsg", "Connecting to server..."),
    Text("AuthMsg", "Authentication..."),
    Text("SendMailMsg", "Sending mail..."),
    Text("FieldMsg", "Setting fields..."),
    Text("SendAttMsg", "Sending attachments..."),
    Text("SendFinalMsg", "Finalizing..."),
    Text("SendFailMsg", "Sorry, sending the bug report didn't work."),
};

const TSettingsProperty* FindDefaultSetting(const char* name) {
  if (name == nullptr) return nullptr;
  for (const TSettingsProperty& property : DefaultSettings)
    if (std::strcmp(property.name, name) == 0) return &property;
  return nullptr;
}

}  // namespace qx
