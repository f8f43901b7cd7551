// The stream reader, the record lists, the defaults, placeholders and password scrambling.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>
#include <string>
#include <vector>

#include "default_settings.h"
#include "password_scramble.h"
#include "placeholders.h"
#include "property_list.h"
#include "settings_stream.h"
#include "settings_text_lists.h"

namespace qx {
namespace {

// Builds streams entry by entry.
class StreamBuilder {
 public:
  StreamBuilder() { bytes_.assign(kSettingsStreamHeader, kSettingsStreamHeader + 25); }
  StreamBuilder& Name(const std::string& name, uint8_t type) {
    bytes_.push_back(static_cast<uint8_t>(name.size()));
    bytes_.insert(bytes_.end(), name.begin(), name.end());
    bytes_.push_back(type);
    return *this;
  }
  StreamBuilder& Bytes(std::initializer_list<uint8_t> values) {
    bytes_.insert(bytes_.end(), values);
    return *this;
  }
  StreamBuilder& Raw(const std::string& text) {
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    return *this;
  }
  StreamBuilder& Le32(uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
    return *this;
  }
  StreamBuilder& End() {
    bytes_.push_back(0);
    return *this;
  }
  std::vector<uint8_t>& Data() { return bytes_; }
  StreamParseResult Parse() { return ParseSettingsStream(bytes_.data(), bytes_.size()); }

 private:
  std::vector<uint8_t> bytes_;
};

TEST(SettingsStream, ReadsEveryValueType) {
  StreamBuilder stream;
  stream.Name("I8", 2).Bytes({0xFE});
  stream.Name("I16", 3).Bytes({0x00, 0x80});
  stream.Name("I32", 4).Le32(0x12345678);
  stream.Name("Short", 6).Bytes({3}).Raw("abc");
  stream.Name("False", 8);
  stream.Name("True", 9);
  stream.Name("Long", 12).Le32(5).Raw("hello");
  stream.Name("Wide", 18).Le32(3).Bytes({'W', 0, 0xE9, 0, 0x3A, 0x26});
  stream.Name("Utf8", 20).Le32(4).Bytes({'x', 0xC3, 0xBC, 'y'});
  stream.End();
  StreamParseResult parsed = stream.Parse();
  ASSERT_TRUE(parsed.headerMatched);
  EXPECT_EQ(parsed.invalidTypeByte, -1);
  EXPECT_FALSE(parsed.truncated);
  ASSERT_EQ(parsed.properties.size(), 9u);
  const auto& p = parsed.properties;
  EXPECT_EQ(p[0].kind, PropertyKind::Integer);
  EXPECT_EQ(p[0].intValue, -2);
  EXPECT_EQ(p[1].intValue, -32768);
  EXPECT_EQ(p[2].intValue, 0x12345678);
  EXPECT_EQ(p[3].kind, PropertyKind::Text);
  EXPECT_EQ(p[3].text, "abc");
  EXPECT_EQ(p[4].kind, PropertyKind::Boolean);
  EXPECT_FALSE(p[4].boolValue);
  EXPECT_TRUE(p[5].boolValue);
  EXPECT_EQ(p[6].text, "hello");
  EXPECT_EQ(p[7].text, "W\xE9?");  // U+263A has no 8-bit form
  EXPECT_EQ(p[8].text, "x\xFCy");
  EXPECT_EQ(p[8].name, "Utf8");
}

TEST(SettingsStream, HeaderMustMatchExactly) {
  StreamBuilder good;
  good.Name("A", 9).End();
  EXPECT_EQ(good.Parse().properties.size(), 1u);
  const size_t letterOffsets[] = {0, 5, 16, 24};
  for (size_t offset : letterOffsets) {
    StreamBuilder stream;
    stream.Name("A", 9).End();
    stream.Data()[offset] ^= 0x20;  // one letter's case
    StreamParseResult parsed = stream.Parse();
    EXPECT_FALSE(parsed.headerMatched) << offset;
    EXPECT_TRUE(parsed.properties.empty()) << offset;
    EXPECT_EQ(parsed.invalidTypeByte, -1) << offset;
  }
  EXPECT_FALSE(ParseSettingsStream(nullptr, 0).headerMatched);
  EXPECT_FALSE(ParseSettingsStream(kSettingsStreamHeader, 24).headerMatched);
}

TEST(SettingsStream, UnknownTypeStopsAndKeepsEarlierProperties) {
  StreamBuilder stream;
  stream.Name("Before", 9).Name("Bad", 5).Bytes({1, 2, 3}).Name("After", 9).End();
  StreamParseResult parsed = stream.Parse();
  EXPECT_EQ(parsed.invalidTypeByte, 5);
  ASSERT_EQ(parsed.properties.size(), 1u);
  EXPECT_EQ(parsed.properties[0].name, "Before");
  EXPECT_EQ(InvalidSettingsResourceMessage(5), "Internal error: Invalid settings resource ($5).");
  EXPECT_EQ(InvalidSettingsResourceMessage(0x1f),
            "Internal error: Invalid settings resource ($1f).");
  EXPECT_EQ(InvalidSettingsResourceMessage(0), "Internal error: Invalid settings resource ($0).");
}

TEST(SettingsStream, EmptyTextsDuplicatesAndCutStreams) {
  StreamBuilder stream;
  stream.Name("Empty6", 6).Bytes({0}).Name("Empty12", 12).Le32(0);
  stream.Name("Dup", 2).Bytes({1}).Name("Dup", 2).Bytes({2}).End();
  StreamParseResult parsed = stream.Parse();
  ASSERT_EQ(parsed.properties.size(), 4u);
  EXPECT_EQ(parsed.properties[0].text, "");
  EXPECT_EQ(parsed.properties[1].text, "");

  TSettingsModule record{};
  {
    PropertyWriteLock lock(&record, CrtPropertyHeap());
    ASSERT_TRUE(lock.Held());
    ASSERT_TRUE(LoadProperties(record, parsed, CrtPropertyHeap()));
  }
  EXPECT_EQ(record.capacity, kInitialPropertyCapacity);
  EXPECT_EQ(record.properties[0].text, nullptr);
  TSettingsProperty* dup = FindProperty(record.properties, record.count, "Dup");
  ASSERT_NE(dup, nullptr);
  EXPECT_EQ(dup->intValue, 1);  // the first one wins
  EXPECT_EQ(FindProperty(record.properties, record.count, "dup"), nullptr);
  FreeProperties(record, CrtPropertyHeap());

  // Cut anywhere, the reader stops without reading past the end and keeps what it had.
  StreamBuilder full;
  full.Name("A", 9).Name("Text", 12).Le32(4).Raw("abcd").End();
  for (size_t size = 25; size < full.Data().size(); ++size) {
    StreamParseResult cut = ParseSettingsStream(full.Data().data(), size);
    EXPECT_TRUE(cut.truncated) << size;
    // "A" is whole from byte 28 on, "Text" only when just the end byte is missing.
    EXPECT_EQ(cut.properties.size(), size < 28 ? 0u : size < full.Data().size() - 1 ? 1u : 2u)
        << size;
  }
  StreamBuilder huge;
  huge.Name("T", 12).Le32(0xFFFFFFF0u).Raw("x").End();
  EXPECT_TRUE(huge.Parse().truncated);
  StreamBuilder hugeWide;
  hugeWide.Name("W", 18).Le32(0x80000001u).Raw("xy").End();
  EXPECT_TRUE(hugeWide.Parse().truncated);
}

TEST(SettingsStream, DamagedStreamsNeverReadOutOfBounds) {
  StreamBuilder base;
  base.Name("Enabled", 9).Name("FreezeTimeout", 4).Le32(60000).Name("Text", 6).Bytes({2}).Raw("ab");
  base.Name("Wide", 18).Le32(1).Bytes({'x', 0}).Name("Long", 12).Le32(3).Raw("xyz").End();
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (int round = 0; round < 20000; ++round) {
    std::vector<uint8_t> damaged = base.Data();
    for (int flips = 1 + next() % 4; flips > 0; --flips)
      damaged[25 + next() % (damaged.size() - 25)] = static_cast<uint8_t>(next());
    damaged.resize(25 + next() % (damaged.size() - 24));
    // Exact-size copy, so a sanitizer sees any read past the end.
    std::vector<uint8_t> exact(damaged.begin(), damaged.end());
    StreamParseResult parsed = ParseSettingsStream(exact.data(), exact.size());
    EXPECT_TRUE(parsed.headerMatched);
    size_t textBytes = 0;
    for (const StreamProperty& p : parsed.properties) textBytes += p.name.size() + p.text.size();
    ASSERT_LE(textBytes, exact.size());
  }
}

TEST(PropertyList, GrowsByTwentyAndStoresTexts) {
  TSettingsModule record{};
  const PropertyHeap& heap = CrtPropertyHeap();
  PropertyWriteLock lock(&record, heap);
  for (int i = 0; i < 132; ++i)
    ASSERT_NE(AppendProperty(record, ("P" + std::to_string(i)).c_str(), PropertyKind::Integer,
                             heap),
              nullptr);
  EXPECT_EQ(record.capacity, 151);
  EXPECT_EQ(record.count, 132);
  TSettingsProperty* p = FindProperty(record.properties, record.count, "P131");
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->kind, PropertyKind::Integer);
  EXPECT_TRUE(StorePropertyText(record, *p, "value", heap));
  EXPECT_STREQ(p->text, "value");
  EXPECT_TRUE(StorePropertyText(record, *p, "", heap));
  EXPECT_EQ(p->text, nullptr);
  FreeProperties(record, heap);
  EXPECT_EQ(record.properties, nullptr);
  EXPECT_EQ(record.retired, nullptr);
}

TEST(PropertyList, ReplacedBlocksOutliveTheReadsThatSawThem) {
  const PropertyHeap& heap = CrtPropertyHeap();
  TSettingsModule record{};
  StreamParseResult parsed;
  parsed.properties.push_back({"Name", PropertyKind::Text, false, 0, "first"});
  {
    PropertyWriteLock lock(&record, heap);
    LoadProperties(record, parsed, heap);
  }
  EXPECT_EQ(record.retired, nullptr);  // nothing read meanwhile: freed at once
  {
    PropertyReadScope read(&record);
    TSettingsProperty* seen = FindProperty(read.Properties(), read.Count(), "Name");
    ASSERT_NE(seen, nullptr);
    const char* text = seen->text;
    {
      PropertyWriteLock lock(&record, heap);
      StorePropertyText(record, record.properties[0], "second", heap);
      for (int i = 0; i < 200; ++i)  // grows the array twice
        AppendProperty(record, ("P" + std::to_string(i)).c_str(), PropertyKind::Integer, heap);
      parsed.properties[0].text = "third";
      LoadProperties(record, parsed, heap);
    }
    // Everything this read saw is still there.
    EXPECT_STREQ(text, "first");
    EXPECT_STREQ(read.Properties()[0].name, "Name");
    EXPECT_NE(record.retired, nullptr);
    EXPECT_EQ(record.count, 1);
    EXPECT_GE(record.capacity, 201);  // readers may still count the 201 records before
  }
  {
    PropertyWriteLock lock(&record, heap);  // the next write frees what was retired
  }
  EXPECT_EQ(record.retired, nullptr);
  EXPECT_EQ(PropertyText(record.properties[0]), "third");
  PropertyWriteLock held(&record, heap);
  PropertyWriteLock second(&record, heap);  // gives up instead of hanging
  EXPECT_TRUE(held.Held());
  EXPECT_FALSE(second.Held());
  FreeProperties(record, heap);
}

TEST(PropertyList, ConcurrentReadsDuringWritesGrowthAndReloads) {
  const PropertyHeap& heap = CrtPropertyHeap();
  TSettingsModule record{};
  StreamParseResult parsed;
  parsed.properties.push_back({"Text", PropertyKind::Text, false, 0, "stream"});
  {
    PropertyWriteLock lock(&record, heap);
    LoadProperties(record, parsed, heap);
  }
  std::atomic<bool> done{false};
  std::atomic<int> bad{0};
  auto reader = [&] {
    while (!done) {
      PropertyReadScope read(&record);
      TSettingsProperty* p = FindProperty(read.Properties(), read.Count(), "Text");
      std::string text = p != nullptr ? PropertyText(*p) : "missing";
      if (text != "stream" && text != "short" && text != std::string(100, 'L')) ++bad;
    }
  };
  std::thread first(reader), second(reader);
  for (int i = 0; i < 5000; ++i) {
    PropertyWriteLock lock(&record, heap);
    ASSERT_TRUE(lock.Held());
    TSettingsProperty* p = FindProperty(record.properties, record.count, "Text");
    StorePropertyText(record, *p, i % 2 ? "short" : std::string(100, 'L'), heap);
    if (i % 50 == 0) AppendProperty(record, ("P" + std::to_string(i)).c_str(),
                                    PropertyKind::Integer, heap);
    if (i % 700 == 0) LoadProperties(record, parsed, heap);
  }
  done = true;
  first.join();
  second.join();
  EXPECT_EQ(bad.load(), 0);
  FreeProperties(record, heap);
}

TEST(DefaultSettings, TableMatchesTheDefaults) {
  EXPECT_EQ(std::size(DefaultSettings), 121u);
  // Names are unique, so no default hides behind another.
  for (int i = 0; i < kDefaultSettingsCount; ++i)
    EXPECT_EQ(FindDefaultSetting(DefaultSettings[i].name), &DefaultSettings[i]);
  struct Expected {
    const char* name;
    PropertyKind kind;
    int32_t value;
    const char* text;
  };
  const Expected samples[] = {
      {"Enabled", PropertyKind::Boolean, 0, nullptr},
      {"NoSettings", PropertyKind::Boolean, 1, nullptr},
      {"FreezeTimeout", PropertyKind::Integer, 60, nullptr},
      {"AutoDelay", PropertyKind::Integer, 60, nullptr},
      {"FocusedBtn", PropertyKind::Boolean, 0, nullptr},
      {"DupExceptDef", PropertyKind::Boolean, 0, nullptr},
      {"GnShowCfg", PropertyKind::Boolean, 0, nullptr},
      {"SmtpPort", PropertyKind::Integer, 25, nullptr},
      {"HttpPort", PropertyKind::Integer, 80, nullptr},
      {"BugRepFileSize", PropertyKind::Integer, 100000, nullptr},
      {"LimitDisAsm", PropertyKind::Integer, 5, nullptr},
      {"ScrShotAppOnly", PropertyKind::Boolean, 1, nullptr},
      {"MailFrom", PropertyKind::Text, 0, nullptr},
      {"Plugins", PropertyKind::Text, 0, "modules|processes|hardware"},
      {"BitFaultMsg", PropertyKind::Text, 0, "The file \"%modname%\" seems to be corrupt!"},
      {"ContinueBtnTxt", PropertyKind::Text, 0, "continue bug report"},
      {"PrepAttMsg", PropertyKind::Text, 0, "Prepare attachments..."},
      {"SendFailMsg", PropertyKind::Text, 0, "Sorry, sending the bug report didn't work."},
  };
  for (const Expected& e : samples) {
    const TSettingsProperty* p = FindDefaultSetting(e.name);
    ASSERT_NE(p, nullptr) << e.name;
    EXPECT_EQ(p->kind, e.kind) << e.name;
    EXPECT_EQ(e.kind == PropertyKind::Boolean ? p->boolValue : p->intValue, e.value) << e.name;
    if (e.text == nullptr)
      EXPECT_EQ(p->text, nullptr) << e.name;
    else
      EXPECT_STREQ(p->text, e.text) << e.name;
  }
  EXPECT_EQ(FindDefaultSetting("MinDebugInfo"), nullptr);
  EXPECT_EQ(FindDefaultSetting("Assistant1"), nullptr);
  EXPECT_STREQ(DefaultSettings[0].name, "Enabled");
  EXPECT_STREQ(DefaultSettings[120].name, "SendFailMsg");
}

class FixedSource : public PlaceholderSource {
 public:
  int versionQueries = 0;
  std::string AppName() override { return "host.exe"; }
  std::string ModuleName() override { return "QXUdfLib.dll"; }
  std::string AppVersion() override {
    ++versionQueries;
    return "1.2.3.4";
  }
  std::string ModuleVersion() override {
    ++versionQueries;
    return FileVersionText(0x0002000000070001ull);
  }
  LocalTime Now() override { return {2026, 3, 7, 9, 5, 4, 45}; }
  std::string ComputerName() override { return "BOX"; }
  std::string UserAppData() override { return "C:\\Users\\u\\AppData"; }
  std::string CommonAppData() override { return "C:\\ProgramData"; }
};

TEST(Placeholders, EachOneLetterCaseIgnored) {
  FixedSource source;
  EXPECT_EQ(ExpandPlaceholders("%APPNAME% / %ModName%", source), "host.exe / QXUdfLib.dll");
  EXPECT_EQ(ExpandPlaceholders("%appversion%-%MODVERSION%", source), "1.2.3.4-2.0.7.1");
  EXPECT_EQ(ExpandPlaceholders("a%lf%b", source), "a\r\nb");
  EXPECT_EQ(ExpandPlaceholders("%date%|%TIME%|%DateTime%", source),
            "2026-03-07|09:05:04, 45ms|2026-03-07, 09:05:04, 45ms");
  EXPECT_EQ(ExpandPlaceholders("%computername%", source), "BOX");
  EXPECT_EQ(ExpandPlaceholders("%userAppData%;%CommonAppData%", source),
            "C:\\Users\\u\\AppData;C:\\ProgramData");
  EXPECT_EQ(ExpandPlaceholders("%appname%%appname%", source), "host.exehost.exe");
}

TEST(Placeholders, UnknownAndExceptionPlaceholders) {
  FixedSource source;
  EXPECT_EQ(ExpandPlaceholders("no placeholders here", source), "no placeholders here");
  EXPECT_EQ(ExpandPlaceholders("100% %unknown% 50%", source), "100% %unknown% 50%");
  EXPECT_EQ(source.versionQueries, 0);  // only computed when asked for
  EXPECT_EQ(ExpandPlaceholders("%exceptClass%: %exceptMsg%", source),
            "%exceptClass%: %exceptMsg%");
  ExceptionTexts exception{"EAccessViolation", "", "report %LF%"};
  EXPECT_EQ(ExpandPlaceholders("%EXCEPTCLASS%: %exceptmsg%%LF%%bugReport%", source, &exception),
            "EAccessViolation: Unknown\r\nreport \r\n");
  EXPECT_EQ(FileVersionText(0), "?");
  EXPECT_EQ(FileVersionText(0x0001000000000000ull), "1.0.0.0");
}

TEST(PasswordScramble, RoundTripsAndDependsOnTheKey) {
  const std::string passwords[] = {"", "secret", "p\xE4ss w\x01rd|=>", std::string(300, 'a')};
  for (const std::string& password : passwords) {
    std::string stored = ScramblePassword(password, "user@example.com", "mail.example.com");
    EXPECT_EQ(stored.size(), password.size() * 2);
    auto back = DescramblePassword(stored, "user@example.com", "mail.example.com");
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, password);
    if (!password.empty()) {
      EXPECT_EQ(stored.find(password), std::string::npos);
      EXPECT_NE(DescramblePassword(stored, "user@example.com", "mail.example.org"), password);
      EXPECT_NE(ScramblePassword(password, "a", "bc"), ScramblePassword(password, "ab", "c"));
    }
  }
  // Fixed value: the settings generator writes the same form.
  EXPECT_EQ(ScramblePassword("secret", "account", "server"), "4cde286b9c97");
  EXPECT_FALSE(DescramblePassword("abc", "a", "b").has_value());
  EXPECT_FALSE(DescramblePassword("zz", "a", "b").has_value());
  EXPECT_FALSE(DescramblePassword("AB", "a", "b").has_value());
}

TEST(SettingsTextLists, FieldsAttachmentsAndPlugins) {
  auto fields = SplitFieldItems("Build=17|Note=a=b|Bare");
  ASSERT_EQ(fields.size(), 3u);
  EXPECT_EQ(fields[1], std::make_pair(std::string("Note"), std::string("a=b")));
  EXPECT_EQ(fields[2].second, "");
  EXPECT_TRUE(SplitFieldItems("").empty());

  auto attachments = SplitAttachmentItems("c:\\a.log>a.log>logs.zip>x>y|b.txt");
  ASSERT_EQ(attachments.size(), 2u);
  EXPECT_EQ(attachments[0][2], "logs.zip");
  EXPECT_EQ(attachments[0][3], "x>y");
  EXPECT_EQ(attachments[1][0], "b.txt");
  EXPECT_EQ(attachments[1][1], "");

  const std::string plugins = "modules|processes|hardware";
  EXPECT_TRUE(PluginListContains(plugins, "PROCESSES"));
  EXPECT_FALSE(PluginListContains(plugins, "process"));
  EXPECT_EQ(PluginListSwitched(plugins, "Modules", true), plugins);
  EXPECT_EQ(PluginListSwitched(plugins, "extra", true), plugins + "|extra");
  EXPECT_EQ(PluginListSwitched("", "extra", true), "extra");
  EXPECT_EQ(PluginListSwitched("a|B|c|b", "b", false), "a|c");
  EXPECT_EQ(PluginListSwitched("b", "b", false), "");
}

TEST(SettingsTextLists, AssistantDefinitions) {
  const std::vector<std::string> assistants = {
      "SendAssistant|Send Assistant|ContactForm|DetailsForm|ScrShotForm",
      "SaveAssistant|Save Assistant|ContactForm|DetailsForm", ""};
  int reads = 0;
  auto read = [&](int i) {
    ++reads;
    return static_cast<size_t>(i - 1) < assistants.size() ? assistants[i - 1] : std::string();
  };
  auto send = FindAssistantDefinition(read, "sendassistant", true);
  ASSERT_TRUE(send.has_value());
  EXPECT_EQ(send->name, "SendAssistant");
  EXPECT_EQ(send->title, "Send Assistant");
  EXPECT_EQ(send->forms, (std::vector<std::string>{"ContactForm", "DetailsForm", "ScrShotForm"}));
  auto noShot = FindAssistantDefinition(read, "SendAssistant", false);
  EXPECT_EQ(noShot->forms, (std::vector<std::string>{"ContactForm", "DetailsForm"}));
  reads = 0;
  EXPECT_FALSE(FindAssistantDefinition(read, "PrintAssistant", true).has_value());
  EXPECT_EQ(reads, 3);  // stops at the first empty definition
}

}  // namespace
}  // namespace qx
