// The settings store in a real process: this build's stream, inheritance between modules,
// several reporter copies sharing one buffer, writes, placeholders and the opening rules.
// The field and attachment lists are the report's, installed as the module's start-up does.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "default_settings.h"
#include "field_lists_win.h"
#include "settings_buffer_win.h"
#include "settings_open_win.h"
#include "settings_stream.h"
#include "settings_text_lists.h"
#include "settings_object_win.h"

namespace qx {
namespace {

// The version text VersionVar points at in one test.
const char* gVersionText = "7.7 beta";

std::string ExeFolder() {
  char path[MAX_PATH];
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string text = path;
  return text.substr(0, text.find_last_of("\\/") + 1);
}

std::vector<std::string> gMessages;
void CaptureMessage(const char* text) { gMessages.push_back(text); }

template <class Function>
Function Export(HMODULE module, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

ComPtr<TIKVSettings> Open(HMODULE module) {
  return ComPtr<TIKVSettings>::Adopt(new TIKVSettings(module, true));
}

// One property of this build's listing: B Boolean, I integer, T text.
struct BuildValue {
  std::string name;
  char kind;
  int32_t number;
  std::string text;
};

// The listing the build wrote into the module's stream (resources/settings.txt): lines
// "Name = value", with "#" comments and blank lines; a value is true or false, a decimal
// integer, or a text in double quotes with \" and \\ inside.
std::vector<BuildValue> ThisBuildsListing() {
  std::ifstream in(QX_SETTINGS_LISTING);
  EXPECT_TRUE(in) << "cannot read " << QX_SETTINGS_LISTING;
  std::vector<BuildValue> values;
  std::string line;
  auto trim = [](std::string text) {
    size_t begin = text.find_first_not_of(" \t\r");
    size_t end = text.find_last_not_of(" \t\r");
    return begin == std::string::npos ? std::string() : text.substr(begin, end - begin + 1);
  };
  while (std::getline(in, line)) {
    line = trim(line);
    if (line.empty() || line[0] == '#') continue;
    size_t equals = line.find('=');
    EXPECT_NE(equals, std::string::npos) << line;
    if (equals == std::string::npos) continue;
    BuildValue value{trim(line.substr(0, equals)), 'T', 0, ""};
    std::string literal = trim(line.substr(equals + 1));
    if (literal == "true" || literal == "false") {
      value.kind = 'B';
      value.number = literal == "true";
    } else if (!literal.empty() && literal[0] != '"') {
      value.kind = 'I';
      value.number = static_cast<int32_t>(std::stoll(literal));
    } else {
      EXPECT_TRUE(literal.size() >= 2 && literal.back() == '"') << line;
      for (size_t i = 1; i + 1 < literal.size(); ++i) {
        if (literal[i] == '\\') ++i;
        value.text += literal[i];
      }
    }
    values.push_back(value);
  }
  return values;
}

TEST(BuiltModule, CarriesThisBuildsStreamAndPictures) {
  HMODULE dll = LoadLibraryExA((ExeFolder() + "QXUdfLib.dll").c_str(), nullptr,
                               LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(dll, nullptr);
  HRSRC info = FindResourceA(dll, "TQELEXCEPT", MAKEINTRESOURCEA(10));
  ASSERT_NE(info, nullptr);
  const auto* data = static_cast<const uint8_t*>(LockResource(LoadResource(dll, info)));
  StreamParseResult parsed = ParseSettingsStream(data, SizeofResource(dll, info));
  EXPECT_TRUE(parsed.headerMatched);
  EXPECT_FALSE(parsed.truncated);
  EXPECT_EQ(parsed.invalidTypeByte, -1);
  const std::vector<BuildValue> listing = ThisBuildsListing();
  ASSERT_EQ(parsed.properties.size(), listing.size());
  for (size_t i = 0; i < listing.size(); ++i) {
    const BuildValue& want = listing[i];
    SCOPED_TRACE(want.name);
    EXPECT_EQ(parsed.properties[i].name, want.name);  // in the order listed
    int copies = 0;
    const StreamProperty* found = nullptr;
    for (const StreamProperty& p : parsed.properties) {
      if (p.name != want.name) continue;
      ++copies;
      found = &p;
    }
    ASSERT_EQ(copies, 1);
    const StreamProperty& got = *found;
    switch (want.kind) {
      case 'B':
        EXPECT_EQ(got.kind, PropertyKind::Boolean);
        EXPECT_EQ(got.boolValue, want.number != 0);
        break;
      case 'I':
        EXPECT_EQ(got.kind, PropertyKind::Integer);
        EXPECT_EQ(got.intValue, want.number);
        break;
      default:
        EXPECT_EQ(got.kind, PropertyKind::Text);
        // Passwords are listed in plain text and stored scrambled.
        if (want.name.find("Password") != std::string::npos && !want.text.empty())
          EXPECT_NE(got.text, want.text);
        else
          EXPECT_EQ(got.text, want.text);
    }
  }
  // Exactly the defaults minus AutoDelay, MailFrom, AddFields and VersionVar, plus three.
  int fromDefaults = 0;
  for (const TSettingsProperty& d : DefaultSettings)
    for (const StreamProperty& p : parsed.properties) fromDefaults += p.name == d.name;
  EXPECT_EQ(fromDefaults, 117);
  for (const char* picture : {"KVIPLWAIT", "KVISEND32"}) {
    HRSRC bitmap = FindResourceA(dll, picture, MAKEINTRESOURCEA(2));
    ASSERT_NE(bitmap, nullptr) << picture;
    EXPECT_EQ(SizeofResource(dll, bitmap), 40u + 4096u) << picture;
  }
  FreeLibrary(dll);
}

TEST(MainSettings, ReadsTheStreamThenTheDefaults) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  ASSERT_TRUE(main);
  EXPECT_EQ(main->ModuleHandle(), GetModuleHandleA(nullptr));
  EXPECT_TRUE(main->HasSettings());
  EXPECT_TRUE(main->GetEnabled());
  EXPECT_EQ(main->GetAutoDelay(), 60u);         // not in the stream: the default
  EXPECT_EQ(main->GetFreezeTimeout(), 60000u);  // stream, not the default 60
  EXPECT_EQ(main->GetFocusedBtn(), 0u);
  EXPECT_EQ(main->GetScrShotDepth(), 8);
  EXPECT_EQ(main->GetF1ShowCfg(), 3u);
  EXPECT_FALSE(main->GetMinDebugInfo());
  EXPECT_EQ(main->GetMailFrom(), "");
  EXPECT_EQ(main->GetTitleBar(), "settings_win_test.exe");
  EXPECT_EQ(main->GetBitFaultMsg(), "The file \"settings_win_test.exe\" seems to be corrupt!");
  EXPECT_EQ(main->GetContinueBtnTxt(), "continue application");
  auto access = main.As<IPropertyAccess>(IID_IPropertyAccess);
  ASSERT_TRUE(access);
  EXPECT_EQ(access->ReadInt("AutoSave"), 0);  // a Boolean read as integer
  EXPECT_FALSE(access->ReadBool("FreezeTimeout"));
  EXPECT_EQ(access->ReadText("NoSuchProperty"), "");
  EXPECT_EQ(access->ReadUInt("NoSuchProperty"), 0u);
  EXPECT_TRUE(main->PluginEnabled("Processes"));
  EXPECT_EQ(main->OpenAssistant("SendAssistant"), nullptr);
}

TEST(MainSettings, InterfaceSlotsKeepTheirOrder) {
  ComPtr<IKVModuleSettings> main = MainSettings();
  void** table = *reinterpret_cast<void***>(main.Get());
  using GetUInt = uint32_t(__stdcall*)(void*);
  using GetHandle = HMODULE(__stdcall*)(void*);
  EXPECT_EQ(reinterpret_cast<GetHandle>(table[3])(main.Get()), GetModuleHandleA(nullptr));
  EXPECT_EQ(reinterpret_cast<GetUInt>(table[24])(main.Get()), 60u);  // AutoDelay get
  // HasSettings opens what IKVModuleSettings adds, right after the 191 of IKVSettings.
  using GetBool = bool(__stdcall*)(void*);
  EXPECT_TRUE(reinterpret_cast<GetBool>(table[3 + 191])(main.Get()));
  auto access = main.As<IPropertyAccess>(IID_IPropertyAccess);
  void** accessTable = *reinterpret_cast<void***>(access.Get());
  using ReadInt = int32_t(__stdcall*)(void*, const char*);
  EXPECT_EQ(reinterpret_cast<ReadInt>(accessTable[4])(access.Get(), "SmtpPort"), 25);
}

TEST(Inheritance, ModuleWithoutStreamReadsEverythingFromMainSettings) {
  HMODULE noStream = LoadLibraryA("settings_probe_nores.dll");
  ASSERT_NE(noStream, nullptr);
  ComPtr<TIKVSettings> settings = Open(noStream);
  ComPtr<IKVModuleSettings> main = MainSettings();
  auto mainAccess = main.As<IPropertyAccess>(IID_IPropertyAccess);
  EXPECT_FALSE(settings->HasSettings());
  std::vector<const char*> names;
  for (const TSettingsProperty& d : DefaultSettings) names.push_back(d.name);
  for (const char* extra : {"Assistant1", "Assistant2", "Assistant3", "MinDebugInfo"})
    names.push_back(extra);
  for (const char* name : names) {
    SCOPED_TRACE(name);
    EXPECT_EQ(settings->ReadBool(name), mainAccess->ReadBool(name));
    EXPECT_EQ(settings->ReadInt(name), mainAccess->ReadInt(name));
    EXPECT_EQ(settings->ReadText(name), mainAccess->ReadText(name));
  }
  EXPECT_EQ(settings->GetAutoDelay(), 60u);
  EXPECT_EQ(settings->GetTitleBar(), "settings_win_test.exe");
  EXPECT_FALSE(settings->SetAutoSave(false));  // invalid object: no writes
  EXPECT_FALSE(settings->WriteText("Anything", "x"));
  // The probe's own copy opened its own module's settings at start-up: without a stream
  // they are invalid, and its reads fall back to the built-in defaults.
  using HasSettingsFn = bool (*)();
  auto probeHas = Export<HasSettingsFn>(noStream, "ProbeHasSettings");
  ASSERT_NE(probeHas, nullptr);
  EXPECT_FALSE(probeHas());
  settings = nullptr;
  FreeLibrary(noStream);
}

TEST(Writes, KindChecksSharingAndReread) {
  ComPtr<TIKVSettings> first = Open(GetModuleHandleA(nullptr));
  ComPtr<TIKVSettings> second = Open(GetModuleHandleA(nullptr));
  EXPECT_FALSE(first->WriteInt("AutoSave", 0));  // stored as Boolean
  EXPECT_TRUE(second->GetAutoSave());
  EXPECT_TRUE(first->SetAutoSave(false));
  EXPECT_FALSE(second->GetAutoSave());
  EXPECT_TRUE(first->SetMailAddr("bugs@example.com"));
  EXPECT_EQ(second->GetMailAddr(), "bugs@example.com");
  EXPECT_TRUE(first->SetAutoDelay(5));  // absent from the stream: added as Integer
  EXPECT_EQ(second->GetAutoDelay(), 5u);
  EXPECT_TRUE(first->WriteText("NewText", "fresh"));
  EXPECT_EQ(second->ReadText("NewText"), "fresh");
  EXPECT_FALSE(first->WriteBool("NewText", true));
  EXPECT_TRUE(first->SetMailAddr(""));
  EXPECT_EQ(second->GetMailAddr(), "");
  EXPECT_EQ(second->SharedRecord(), first->SharedRecord());

  second->Reread();
  EXPECT_TRUE(first->GetAutoSave());
  EXPECT_EQ(first->GetAutoDelay(), 60u);
  EXPECT_EQ(first->ReadText("NewText"), "");
  EXPECT_EQ(first->SharedRecord()->count, 120);
}

TEST(Writes, FieldAttachmentAndPluginLists) {
  ComPtr<TIKVSettings> settings = Open(GetModuleHandleA(nullptr));
  ASSERT_TRUE(settings->WriteText("AddFields", "Build=17|Site=Main office"));
  ASSERT_TRUE(settings->WriteText("AddAttachs", "c:\\logs\\app.log>app.log>logs.zip>log"));
  ComPtr<IKVFields> fields = ComPtr<IKVFields>::Adopt(settings->AddFields());
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->ItemCount(), 2);
  EXPECT_EQ(fields->Content("site"), "Main office");
  fields->Add("Extra", " 3 ");
  EXPECT_EQ(settings->ReadText("AddFields"), "Build=17|Site=Main office|Extra=3");
  ComPtr<IKVAttachments> attachs = ComPtr<IKVAttachments>::Adopt(settings->AddAttachs());
  ASSERT_TRUE(attachs);
  std::string source, sendAs, zip, field;
  ASSERT_TRUE(attachs->Item(0, source, sendAs, zip, field));
  EXPECT_EQ(source, "c:\\logs\\app.log");
  EXPECT_EQ(zip, "logs.zip");
  attachs->Add("d:\\shot.png", "", "", "");
  EXPECT_EQ(settings->ReadText("AddAttachs"),
            "c:\\logs\\app.log>app.log>logs.zip>log|d:\\shot.png>shot.png>>shot");

  settings->SwitchPlugin("hardware", false);
  EXPECT_FALSE(settings->PluginEnabled("hardware"));
  EXPECT_EQ(settings->ReadText("Plugins"), "modules|processes");
  settings->SwitchPlugin("Hardware", true);
  EXPECT_EQ(settings->ReadText("Plugins"), "modules|processes|Hardware");
  settings->Reread();
  // The lists outlive their settings object without writing into freed memory.
  settings = nullptr;
  fields->Add("After", "1");
  attachs->Clear();
}

TEST(Writes, ListsAreBuiltOnceTheReportInstallsThem) {
  // Before the report starts a settings object has no lists, and everything else works.
  RemoveSettingsLists();
  ComPtr<TIKVSettings> settings = Open(GetModuleHandleA(nullptr));
  EXPECT_TRUE(settings->WriteText("AddFields", "Build=17"));
  EXPECT_TRUE(settings->WriteText("AddAttachs", "c:\\logs\\app.log"));
  EXPECT_EQ(settings->AddFields(), nullptr);
  EXPECT_EQ(settings->AddAttachs(), nullptr);
  EXPECT_EQ(settings->ReadText("AddFields"), "Build=17");
  EXPECT_TRUE(settings->SetMailAddr("bugs@example.com"));
  EXPECT_EQ(settings->GetMailAddr(), "bugs@example.com");
  ComPtr<TIKVSettings> listless = Open(GetModuleHandleA(nullptr));
  EXPECT_EQ(listless->AddFields(), nullptr);
  listless = nullptr;  // goes without lists to unlink

  // The same object builds them at its first call once the report has installed them.
  InstallSettingsLists();
  ComPtr<IKVFields> fields = ComPtr<IKVFields>::Adopt(settings->AddFields());
  ASSERT_TRUE(fields);
  EXPECT_EQ(fields->Content("build"), "17");
  fields->Add("Extra", "3");
  EXPECT_EQ(settings->ReadText("AddFields"), "Build=17|Extra=3");
  ComPtr<IKVAttachments> attachs = ComPtr<IKVAttachments>::Adopt(settings->AddAttachs());
  ASSERT_TRUE(attachs);
  std::string source, sendAs, zip, field;
  ASSERT_TRUE(attachs->Item(0, source, sendAs, zip, field));
  EXPECT_EQ(sendAs, "app.log");
  EXPECT_EQ(field, "app");
  settings->Reread();
}

TEST(Writes, ReadersNeverSeeAFreedText) {
  ComPtr<TIKVSettings> writer = Open(GetModuleHandleA(nullptr));
  std::atomic<bool> done{false};
  std::atomic<int> bad{0}, reads{0};
  writer->SetMailBody("short");
  auto readLoop = [&] {
    ComPtr<TIKVSettings> reader = Open(GetModuleHandleA(nullptr));
    while (!done) {
      std::string text = reader->GetMailBody();
      if (text != "short" && text != std::string(200, 'L') &&
          text != "please find the bug report attached")
        ++bad;
      if (reader->GetSmtpPort() != 25) ++bad;
      ++reads;
    }
  };
  std::thread first(readLoop), second(readLoop);
  for (int i = 0; i < 20000; ++i) {
    writer->SetMailBody(i % 2 ? "short" : std::string(200, 'L'));
    if (i % 1000 == 0) writer->WriteText(("Grow" + std::to_string(i)).c_str(), "x");
    if (i % 2500 == 0) writer->Reread();  // swaps the whole array under the readers
  }
  done = true;
  first.join();
  second.join();
  EXPECT_EQ(bad.load(), 0);
  EXPECT_GT(reads.load(), 0);
  writer->Reread();
}

TEST(SharedBuffer, NamedAfterTheProcessInLowerCaseHex) {
  EXPECT_EQ(ProcessObjectName("qelExceptSettingsBuf", 4660), "qelExceptSettingsBuf$1234");
  EXPECT_EQ(ProcessObjectName("qelExceptSettingsMtx", 0xABCDEF), "qelExceptSettingsMtx$abcdef");
  std::string name = ProcessObjectName("qelExceptSettingsBuf", GetCurrentProcessId());
  HANDLE mapping = OpenFileMappingA(FILE_MAP_READ, FALSE, name.c_str());
  ASSERT_NE(mapping, nullptr);
  auto* view = static_cast<const SettingsBuffer*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 40));
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view->head, MappedSettingsBuffer()->head);
  EXPECT_GE(view->refCount, 1);
  EXPECT_EQ(view->reserved, 0u);
  UnmapViewOfFile(view);
  CloseHandle(mapping);
}

TEST(SharedBuffer, TwoReporterCopiesShareOneBuffer) {
  std::string folder = ExeFolder();
  std::string copyPath = folder + "settings_probe_copy.dll";
  ASSERT_TRUE(CopyFileA((folder + "settings_probe.dll").c_str(), copyPath.c_str(), FALSE));
  SettingsBuffer* ours = MappedSettingsBuffer();
  ASSERT_NE(ours, nullptr);
  LONG before = ours->refCount;

  HMODULE first = LoadLibraryA("settings_probe.dll");
  HMODULE second = LoadLibraryA(copyPath.c_str());
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  ASSERT_NE(first, second);
  using BufferFn = SettingsBuffer* (*)();
  using ReadIntFn = int (*)(const char*);
  using ReadTextFn = int (*)(const char*, char*, int);
  auto firstBuffer = Export<BufferFn>(first, "ProbeBuffer");
  auto secondBuffer = Export<BufferFn>(second, "ProbeBuffer");
  auto firstReadInt = Export<ReadIntFn>(first, "ProbeReadInt");
  auto firstReadText = Export<ReadTextFn>(first, "ProbeReadText");
  ASSERT_TRUE(firstBuffer && secondBuffer && firstReadInt && firstReadText);
  // One block: both copies' start-ups counted in ours, all views show the same list.
  EXPECT_EQ(ours->refCount, before + 2);
  EXPECT_EQ(firstBuffer()->head, ours->head);
  EXPECT_EQ(secondBuffer()->mapping, ours->mapping);
  int modules = 0;
  for (TSettingsModule* m = ours->head; m != nullptr; m = m->next)
    modules += m->module == first || m->module == second;
  EXPECT_EQ(modules, 2);

  // A write through our copy is seen by the probe's own copy: the record is shared.
  ComPtr<TIKVSettings> firstSettings = Open(first);
  EXPECT_EQ(firstSettings->SharedRecord()->refCount, 2);
  EXPECT_TRUE(firstSettings->SetSmtpPort(2525));
  EXPECT_EQ(firstReadInt("SmtpPort"), 2525);

  FreeLibrary(second);
  EXPECT_EQ(ours->refCount, before + 2);  // the probe's main settings plus our object
  for (TSettingsModule* m = ours->head; m != nullptr; m = m->next)
    EXPECT_NE(m->module, second);
  char text[128];
  firstReadText("ExceptMsg", text, sizeof text);
  EXPECT_STREQ(text, "An error occurred in the application.");
  EXPECT_EQ(firstReadInt("SmtpPort"), 2525);
  EXPECT_EQ(firstReadInt("AutoDelay"), 60);
  firstSettings = nullptr;
  FreeLibrary(first);
  EXPECT_EQ(ours->refCount, before);
  DeleteFileA(copyPath.c_str());
}

TEST(StreamErrors, UnknownTypeShowsTheMessageAndKeepsEarlierProperties) {
  gMessages.clear();
  SetSettingsMessageHandler(CaptureMessage);
  HMODULE bad = LoadLibraryA("settings_bad_stream.dll");
  ASSERT_NE(bad, nullptr);
  {
    ComPtr<TIKVSettings> settings = Open(bad);
    ASSERT_EQ(gMessages.size(), 1u);
    EXPECT_EQ(gMessages[0], "Internal error: Invalid settings resource ($5).");
    EXPECT_TRUE(settings->HasSettings());
    EXPECT_TRUE(settings->ReadBool("Before"));
    EXPECT_EQ(settings->ReadInt("Also Ok"), -5);
    EXPECT_FALSE(settings->ReadBool("After"));
    EXPECT_EQ(settings->SharedRecord()->count, 2);
  }
  HMODULE wrong = LoadLibraryA("settings_wrong_header.dll");
  ASSERT_NE(wrong, nullptr);
  {
    ComPtr<TIKVSettings> settings = Open(wrong);
    EXPECT_EQ(gMessages.size(), 1u);  // no message for a header mismatch
    EXPECT_TRUE(settings->HasSettings());
    EXPECT_EQ(settings->SharedRecord()->count, 0);
    EXPECT_TRUE(settings->GetEnabled());  // from the main settings, not the stream
  }
  SetSettingsMessageHandler(nullptr);
  FreeLibrary(bad);
  FreeLibrary(wrong);
}

TEST(StreamTexts, WideAndUtf8TextsArriveInTheSystemCodePage) {
  HMODULE texts = LoadLibraryA("settings_text_kinds.dll");
  ASSERT_NE(texts, nullptr);
  {
    ComPtr<TIKVSettings> settings = Open(texts);
    ASSERT_EQ(settings->SharedRecord()->count, 3);
    EXPECT_EQ(settings->ReadText("Wide"), "W\xE9?");  // U+263A has no 8-bit form
    EXPECT_EQ(settings->ReadText("Utf8"), "x\xFCy");
    EXPECT_EQ(settings->ReadText("Empty"), "");
    EXPECT_EQ(settings->SharedRecord()->properties[2].text, nullptr);
  }
  FreeLibrary(texts);
}

TEST(StreamTexts, PasswordsAreDescrambledWhenTheStreamIsRead) {
  HMODULE passwords = LoadLibraryA("settings_passwords.dll");
  ASSERT_NE(passwords, nullptr);
  {
    ComPtr<TIKVSettings> settings = Open(passwords);
    EXPECT_EQ(settings->GetSmtpPassword(), "s3cret pass|>");
    EXPECT_EQ(settings->GetHttpPassword(), "\"quoted\" \\ and wide: \xE9");
    // Stored scrambled: the plain text appears nowhere in the module.
    HRSRC info = FindResourceA(passwords, "TQELEXCEPT", MAKEINTRESOURCEA(10));
    std::string stream(static_cast<const char*>(LockResource(LoadResource(passwords, info))),
                       SizeofResource(passwords, info));
    EXPECT_EQ(stream.find("s3cret"), std::string::npos);
    EXPECT_NE(stream.find("reporter@example.com"), std::string::npos);
  }
  FreeLibrary(passwords);
}

IAssistant* RecordAssistant(const AssistantDefinition& definition, IUnknown* context);
std::vector<AssistantDefinition> gAssistants;
IAssistant* RecordAssistant(const AssistantDefinition& definition, IUnknown*) {
  gAssistants.push_back(definition);
  return nullptr;
}

TEST(Assistants, DefinitionsReachTheRegisteredBuilder) {
  ComPtr<TIKVSettings> settings = Open(GetModuleHandleA(nullptr));
  EXPECT_EQ(settings->OpenAssistant("SendAssistant"), nullptr);  // no builder: nothing
  TIKVSettings::SetAssistantFactory(RecordAssistant);
  settings->OpenAssistant("sendASSISTANT");
  settings->OpenAssistant("Unknown");
  ASSERT_EQ(gAssistants.size(), 1u);
  EXPECT_EQ(gAssistants[0].title, "Send Assistant");
  EXPECT_EQ(gAssistants[0].forms.size(), 3u);
  ASSERT_TRUE(settings->SetScrShotDepth(0));  // no screenshot: no screenshot form
  settings->OpenAssistant("SendAssistant");
  ASSERT_EQ(gAssistants.size(), 2u);
  EXPECT_EQ(gAssistants[1].forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));
  TIKVSettings::SetAssistantFactory(nullptr);
  settings->Reread();
}

TEST(Placeholders, ExpandedOnEveryTextRead) {
  ComPtr<TIKVSettings> settings = Open(GetModuleHandleA(nullptr));
  ASSERT_TRUE(settings->WriteText("Probe", "%APPNAME%|%modName%|%AppVersion%|%unknown%|a%lf%b"));
  EXPECT_EQ(settings->ReadText("Probe"),
            "settings_win_test.exe|settings_win_test.exe|1.2.3.4|%unknown%|a\r\nb");
  ASSERT_TRUE(settings->WriteText("Probe", "%exceptClass%:%exceptMsg%:%bugReport%"));
  EXPECT_EQ(settings->ReadText("Probe"), "%exceptClass%:%exceptMsg%:%bugReport%");
  ASSERT_TRUE(settings->WriteText("Probe", "%date%|%time%|%DATETIME%|%computername%"));
  std::string expanded = settings->ReadText("Probe");
  const std::string date = R"(\d{4}-\d\d-\d\d)", time = R"(\d\d:\d\d:\d\d, \d{1,3}ms)";
  std::regex shape(date + R"(\|)" + time + R"(\|)" + date + ", " + time + R"(\|.+)");
  EXPECT_TRUE(std::regex_match(expanded, shape)) << expanded;
  ASSERT_TRUE(settings->WriteText("Probe", "%userappdata%|%commonappdata%"));
  expanded = settings->ReadText("Probe");
  size_t bar = expanded.find('|');
  ASSERT_NE(bar, std::string::npos);
  EXPECT_GT(bar, 2u);
  EXPECT_NE(expanded[bar - 1], '\\');
  EXPECT_GT(expanded.size(), bar + 3);
  EXPECT_NE(expanded.back(), '\\');

  HMODULE probe = LoadLibraryA("settings_probe.dll");
  ASSERT_NE(probe, nullptr);
  {
    ComPtr<TIKVSettings> probeSettings = Open(probe);
    ASSERT_TRUE(probeSettings->WriteText("Probe", "v%MODVERSION% of %modname% in %appname%"));
    EXPECT_EQ(probeSettings->ReadText("Probe"),
              "v2.0.7.1 of settings_probe.dll in settings_win_test.exe");
  }
  FreeLibrary(probe);

  // VersionVar names a variable that holds a pointer to the version text.
  auto base = reinterpret_cast<const char*>(GetModuleHandleA(nullptr));
  auto offset = reinterpret_cast<const char*>(const_cast<const char**>(&gVersionText)) - base;
  ASSERT_TRUE(settings->WriteInt("VersionVar", static_cast<int32_t>(offset)));
  ComPtr<TIKVSettings> versioned = Open(GetModuleHandleA(nullptr));
  EXPECT_EQ(versioned->Version(), "7.7 beta");
  ASSERT_TRUE(settings->WriteText("Probe", "%appversion%"));
  EXPECT_EQ(versioned->ReadText("Probe"), "7.7 beta");
  ASSERT_TRUE(settings->WriteInt("VersionVar", 0x7FFFFFF0));  // unreadable: ignored
  EXPECT_EQ(Open(GetModuleHandleA(nullptr))->Version(), "");
  settings->Reread();
}

TEST(Opening, SettingsForModuleAddressAndCaller) {
  HMODULE probe = LoadLibraryA("settings_probe.dll");
  HMODULE noStream = LoadLibraryA("settings_probe_nores.dll");
  ASSERT_TRUE(probe && noStream);
  auto inProbe = reinterpret_cast<const void*>(GetProcAddress(probe, "ProbeReadInt"));
  auto inNoStream = reinterpret_cast<const void*>(GetProcAddress(noStream, "ProbeReadInt"));
  EXPECT_EQ(SettingsForAddress(inProbe)->ModuleHandle(), probe);
  // Without settings of its own the module gets the settings found elsewhere.
  EXPECT_EQ(SettingsForAddress(inNoStream)->ModuleHandle(), GetModuleHandleA(nullptr));
  EXPECT_EQ(SettingsForAddress(nullptr)->ModuleHandle(), GetModuleHandleA(nullptr));
  EXPECT_EQ(SettingsForCaller()->ModuleHandle(), GetModuleHandleA(nullptr));
  EXPECT_EQ(SettingsForFrame(0)->ModuleHandle(), GetModuleHandleA(nullptr));
  EXPECT_EQ(SettingsForFrame(1000)->ModuleHandle(), GetModuleHandleA(nullptr));
  ComPtr<IKVModuleSettings> own = SettingsForModule(probe);
  EXPECT_EQ(own->ModuleHandle(), probe);
  EXPECT_FALSE(SettingsForModule(noStream)->HasSettings());
  ComPtr<IKVModuleSettings> shared = FindSharedSettings();
  ASSERT_TRUE(shared);
  EXPECT_EQ(shared->ModuleHandle(), GetModuleHandleA(nullptr));

  // A module that declares it has no settings is answered by another module's.
  ComPtr<TIKVSettings> probeSettings = Open(probe);
  ASSERT_TRUE(probeSettings->WriteBool("NoSettings", true));
  EXPECT_EQ(SettingsForModule(probe)->ModuleHandle(), GetModuleHandleA(nullptr));
  EXPECT_EQ(SettingsForAddress(inProbe)->ModuleHandle(), GetModuleHandleA(nullptr));
  probeSettings->Reread();
  probeSettings = nullptr;
  own = nullptr;
  FreeLibrary(noStream);
  FreeLibrary(probe);
}

}  // namespace
}  // namespace qx

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  qx::SettingsStartup();
  // The module's start-up order: the report installs the lists after the settings started.
  qx::InstallSettingsLists();
  int result = RUN_ALL_TESTS();
  qx::SettingsShutdown();
  return result;
}
