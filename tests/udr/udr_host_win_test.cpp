// QXUdr.dll driven the way the engine's UDR plug-in drives it, through the public
// interface header only: load the module, call firebird_udr_plugin with our own plug-in
// object, let each registered factory make its routine for a declaration of ours, and
// execute it over messages laid out as the engine lays them out.
#include <windows.h>

#include <firebird/Interface.h>
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace Firebird;
using Wrapper = CheckStatusWrapper;

// An IStatus that keeps its own copies of the error texts, as the engine's does.
class HostStatus : public IStatusImpl<HostStatus, Wrapper> {
 public:
  HostStatus() { init(); }
  HostStatus(const HostStatus& other) : IStatusImpl<HostStatus, Wrapper>() {
    Copy(other.errors_.data());
  }
  void dispose() override { delete this; }
  void init() override { Copy(nullptr); }
  unsigned getState() const override { return errors_[1] != 0 ? STATE_ERRORS : 0; }
  void setErrors2(unsigned, const intptr_t* value) override { Copy(value); }
  void setWarnings2(unsigned, const intptr_t*) override {}
  void setErrors(const intptr_t* value) override { Copy(value); }
  void setWarnings(const intptr_t*) override {}
  const intptr_t* getErrors() const override { return errors_.data(); }
  const intptr_t* getWarnings() const override { return kClean; }
  IStatus* clone() const override { return new HostStatus(*this); }

  // The texts of the vector's string arguments, joined.
  std::string Text() const {
    std::string text;
    for (size_t i = 0; i + 1 < errors_.size() && errors_[i] != isc_arg_end; i += 2) {
      if (errors_[i] == isc_arg_string) text += reinterpret_cast<const char*>(errors_[i + 1]);
    }
    return text;
  }

 private:
  static constexpr intptr_t kClean[] = {isc_arg_gds, 0, isc_arg_end};

  void Copy(const intptr_t* value) {
    std::vector<intptr_t> copy;
    std::deque<std::string> texts;
    for (; value != nullptr && value[0] != isc_arg_end; value += 2) {
      copy.push_back(value[0]);
      if (value[0] == isc_arg_string) {
        texts.emplace_back(reinterpret_cast<const char*>(value[1]));
        copy.push_back(reinterpret_cast<intptr_t>(texts.back().c_str()));
      } else {
        copy.push_back(value[1]);
      }
    }
    if (copy.empty()) copy.assign(kClean, kClean + 2);
    copy.push_back(isc_arg_end);
    texts_.swap(texts);
    errors_.swap(copy);
  }

  std::vector<intptr_t> errors_;
  std::deque<std::string> texts_;
};

// One declared field: its SQL type and, for texts, the declared byte length.
struct Field {
  unsigned type;
  unsigned length;
};

Field Integer() { return {SQL_LONG, 4}; }
Field Double() { return {SQL_DOUBLE, 8}; }
Field Varchar(unsigned length) { return {SQL_VARYING, length}; }
Field Blob() { return {SQL_BLOB, 8}; }

// A message format with the engine's layout: each value aligned to its size, its NULL
// flag (16 bits) after it.
class Message : public IMessageMetadataImpl<Message, Wrapper> {
 public:
  explicit Message(std::vector<Field> fields) : fields_(std::move(fields)) {
    unsigned at = 0;
    for (const Field& f : fields_) {
      const unsigned align = f.type == SQL_VARYING ? 2 : (f.type == SQL_LONG ? 4 : 8);
      at = (at + align - 1) / align * align;
      offsets_.push_back(at);
      at += f.length + (f.type == SQL_VARYING ? 2 : 0);
      at = (at + 1) / 2 * 2;
      nullOffsets_.push_back(at);
      at += 2;
    }
    size_ = at;
  }
  void addRef() override {}
  int release() override { return 1; }  // lives on the test's stack
  unsigned getCount(Wrapper*) override { return static_cast<unsigned>(fields_.size()); }
  const char* getField(Wrapper*, unsigned) override { return ""; }
  const char* getRelation(Wrapper*, unsigned) override { return ""; }
  const char* getOwner(Wrapper*, unsigned) override { return ""; }
  const char* getAlias(Wrapper*, unsigned) override { return ""; }
  unsigned getType(Wrapper*, unsigned i) override { return fields_[i].type; }
  FB_BOOLEAN isNullable(Wrapper*, unsigned) override { return FB_TRUE; }
  int getSubType(Wrapper*, unsigned) override { return 0; }
  unsigned getLength(Wrapper*, unsigned i) override { return fields_[i].length; }
  int getScale(Wrapper*, unsigned) override { return 0; }
  unsigned getCharSet(Wrapper*, unsigned) override { return 0; }
  unsigned getOffset(Wrapper*, unsigned i) override { return offsets_[i]; }
  unsigned getNullOffset(Wrapper*, unsigned i) override { return nullOffsets_[i]; }
  IMetadataBuilder* getBuilder(Wrapper*) override { return nullptr; }
  unsigned getMessageLength(Wrapper*) override { return size_; }

  unsigned Offset(unsigned i) const { return offsets_[i]; }
  unsigned NullOffset(unsigned i) const { return nullOffsets_[i]; }

 private:
  std::vector<Field> fields_;
  std::vector<unsigned> offsets_, nullOffsets_;
  unsigned size_ = 0;
};

class Routine : public IRoutineMetadataImpl<Routine, Wrapper> {
 public:
  Routine(Message* in, Message* out) : in_(in), out_(out) {}
  const char* getPackage(Wrapper*) const override { return nullptr; }
  const char* getName(Wrapper*) const override { return "ROUTINE"; }
  const char* getEntryPoint(Wrapper*) const override { return ""; }
  const char* getBody(Wrapper*) const override { return nullptr; }
  IMessageMetadata* getInputMetadata(Wrapper*) const override { return in_; }
  IMessageMetadata* getOutputMetadata(Wrapper*) const override { return out_; }
  IMessageMetadata* getTriggerMetadata(Wrapper*) const override { return nullptr; }
  const char* getTriggerTable(Wrapper*) const override { return nullptr; }
  unsigned getTriggerType(Wrapper*) const override { return 0; }

 private:
  Message* in_;
  Message* out_;
};

// No attachment: the calls here move no blob.
class Context : public IExternalContextImpl<Context, Wrapper> {
 public:
  IMaster* getMaster() override { return nullptr; }
  IExternalEngine* getEngine(Wrapper*) override { return nullptr; }
  IAttachment* getAttachment(Wrapper*) override { return nullptr; }
  ITransaction* getTransaction(Wrapper*) override { return nullptr; }
  const char* getUserName() override { return "SYSDBA"; }
  const char* getDatabaseName() override { return "test.fdb"; }
  const char* getClientCharSet() override { return "NONE"; }
  int obtainInfoCode() override { return 0; }
  void* getInfo(int) override { return nullptr; }
  void* setInfo(int, void*) override { return nullptr; }
};

class Plugin : public IUdrPluginImpl<Plugin, Wrapper> {
 public:
  IMaster* getMaster() override { return nullptr; }
  void registerFunction(Wrapper*, const char* name, IUdrFunctionFactory* factory) override {
    functions[name] = factory;
  }
  void registerProcedure(Wrapper*, const char* name, IUdrProcedureFactory*) override {
    others.insert(name);
  }
  void registerTrigger(Wrapper*, const char* name, IUdrTriggerFactory*) override {
    others.insert(name);
  }
  std::map<std::string, IUdrFunctionFactory*> functions;
  std::set<std::string> others;
};

using EntryPoint = FB_BOOLEAN* (*)(IStatus*, FB_BOOLEAN*, IUdrPlugin*);

class QXUdrDll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    module_ = LoadLibraryA("QXUdr.dll");
    ASSERT_NE(module_, nullptr) << "QXUdr.dll: error " << GetLastError();
    auto entry = reinterpret_cast<EntryPoint>(
        reinterpret_cast<void*>(GetProcAddress(module_, "firebird_udr_plugin")));
    ASSERT_NE(entry, nullptr);
    HostStatus status;
    plugin_ = new Plugin;
    myUnloadFlag_ = entry(&status, &theirUnloadFlag_, plugin_);
    ASSERT_EQ(status.getState(), 0u) << status.Text();
  }

  static void TearDownTestSuite() {
    // The engine sets the module's flag before it unloads it.
    if (myUnloadFlag_ != nullptr) *myUnloadFlag_ = FB_TRUE;
    if (module_ != nullptr) FreeLibrary(module_);
    EXPECT_EQ(theirUnloadFlag_, FB_FALSE);
    delete plugin_;
  }

  // One call: declaration in -> out, argument values written by `fill`.
  struct Call {
    Message in;
    Message out;
    std::vector<unsigned char> inBuffer, outBuffer;
    HostStatus status;
    bool made = false;
    bool ran = false;

    Call(std::vector<Field> inFields, Field outField)
        : in(std::move(inFields)), out({outField}) {
      inBuffer.assign(in.getMessageLength(nullptr), 0);
      outBuffer.assign(out.getMessageLength(nullptr), 0);
    }
    template <class T>
    void Set(unsigned i, T value) { std::memcpy(&inBuffer[in.Offset(i)], &value, sizeof value); }
    void SetText(unsigned i, const std::string& text) {
      const uint16_t length = static_cast<uint16_t>(text.size());
      std::memcpy(&inBuffer[in.Offset(i)], &length, 2);
      std::memcpy(&inBuffer[in.Offset(i) + 2], text.data(), text.size());
    }
    void SetNull(unsigned i) {
      const int16_t flag = -1;
      std::memcpy(&inBuffer[in.NullOffset(i)], &flag, 2);
    }
    void Run(const char* name) {
      IUdrFunctionFactory* factory = plugin_->functions.at(name);
      Wrapper wrapper(&status);
      Context context;
      Routine routine(&in, &out);
      IExternalFunction* function = factory->newItem(&wrapper, &context, &routine);
      made = function != nullptr && status.getState() == 0;
      if (!made) return;
      function->execute(&wrapper, &context, inBuffer.data(), outBuffer.data());
      ran = status.getState() == 0;
      function->dispose();
    }
    int32_t IntResult() const { return Read<int32_t>(); }
    double DoubleResult() const { return Read<double>(); }
    std::string TextResult() const {
      uint16_t length;
      std::memcpy(&length, &outBuffer[out.Offset(0)], 2);
      return std::string(reinterpret_cast<const char*>(&outBuffer[out.Offset(0) + 2]), length);
    }
    bool ResultIsNull() const {
      int16_t flag;
      std::memcpy(&flag, &outBuffer[out.NullOffset(0)], 2);
      return flag != 0;
    }
    template <class T>
    T Read() const {
      T value;
      std::memcpy(&value, &outBuffer[out.Offset(0)], sizeof value);
      return value;
    }
  };

  static HMODULE module_;
  static Plugin* plugin_;
  static FB_BOOLEAN theirUnloadFlag_;
  static FB_BOOLEAN* myUnloadFlag_;
};

HMODULE QXUdrDll::module_ = nullptr;
Plugin* QXUdrDll::plugin_ = nullptr;
FB_BOOLEAN QXUdrDll::theirUnloadFlag_ = FB_FALSE;
FB_BOOLEAN* QXUdrDll::myUnloadFlag_ = nullptr;

TEST_F(QXUdrDll, RegistersTheThirteenFunctionsAndNothingElse) {
  std::set<std::string> names;
  for (const auto& entry : plugin_->functions) names.insert(entry.first);
  EXPECT_EQ(names, (std::set<std::string>{
                       "fn_GetBlobValue", "fn_TrimRTF", "fn_BoolStringToInt", "fn_strReplace",
                       "fn_formatDouble", "fn_factbedragbetaald", "fn_maxvalue", "fn_minvalue",
                       "fn_inttocnk", "fn_incday", "fn_clearbit", "fn_checkbit", "fn_setbit"}));
  EXPECT_TRUE(plugin_->others.empty());
  EXPECT_NE(myUnloadFlag_, nullptr);
}

TEST_F(QXUdrDll, IntegerFunctions) {
  struct Row {
    const char* name;
    int32_t a, b, expected;
  } rows[] = {{"fn_setbit", 5, 2, 7},       {"fn_clearbit", -1, 1, -2},
              {"fn_checkbit", 5, 6, 1},     {"fn_checkbit", -1, 0, 0},
              {"fn_minvalue", 3, -1, -1},   {"fn_maxvalue", -5, -7, -5}};
  for (const Row& row : rows) {
    Call call({Integer(), Integer()}, Integer());
    call.Set(0, row.a);
    call.Set(1, row.b);
    call.Run(row.name);
    ASSERT_TRUE(call.ran) << row.name << ": " << call.status.Text();
    EXPECT_EQ(call.IntResult(), row.expected) << row.name << "(" << row.a << ", " << row.b << ")";
    EXPECT_FALSE(call.ResultIsNull());
  }
}

TEST_F(QXUdrDll, DoubleAndFlagFunctions) {
  Call incDay({Double(), Integer()}, Double());
  incDay.Set(0, 100.25);
  incDay.Set(1, int32_t{-101});
  incDay.Run("fn_incday");
  ASSERT_TRUE(incDay.ran) << incDay.status.Text();
  EXPECT_EQ(incDay.DoubleResult(), -0.75);

  Call paid({Integer(), Varchar(16)}, Integer());
  paid.Set(0, int32_t{1500});
  paid.SetText(1, "YES");
  paid.Run("fn_factbedragbetaald");
  ASSERT_TRUE(paid.ran) << paid.status.Text();
  EXPECT_EQ(paid.IntResult(), 1500);

  Call flags({Varchar(64)}, Integer());
  flags.SetText(0, std::string(32, 'Y'));
  flags.Run("fn_BoolStringToInt");
  ASSERT_TRUE(flags.ran) << flags.status.Text();
  EXPECT_EQ(flags.IntResult(), -1);
}

TEST_F(QXUdrDll, TextFunctions) {
  Call cnk({Integer()}, Varchar(12));
  cnk.Set(0, int32_t{-42});
  cnk.Run("fn_inttocnk");
  ASSERT_TRUE(cnk.ran) << cnk.status.Text();
  EXPECT_EQ(cnk.TextResult(), "-0000042");

  Call format({Double()}, Varchar(32));
  format.Set(0, 1234567890123456.0);
  format.Run("fn_formatDouble");
  ASSERT_TRUE(format.ran) << format.status.Text();
  EXPECT_EQ(format.TextResult(), "1.23456789012346E015");

  Call replace({Varchar(4096), Varchar(256), Varchar(256)}, Varchar(8192));
  replace.SetText(0, "banana");
  replace.SetText(1, "ana");
  replace.SetText(2, "x");
  replace.Run("fn_strReplace");
  ASSERT_TRUE(replace.ran) << replace.status.Text();
  EXPECT_EQ(replace.TextResult(), "bxna");
}

TEST_F(QXUdrDll, NullArgumentsReadAsZeroAndEmptyText) {
  Call setBit({Integer(), Integer()}, Integer());
  setBit.SetNull(0);
  setBit.Set(1, int32_t{3});
  setBit.Run("fn_setbit");
  ASSERT_TRUE(setBit.ran) << setBit.status.Text();
  EXPECT_EQ(setBit.IntResult(), 3);

  Call replace({Varchar(4096), Varchar(256), Varchar(256)}, Varchar(8192));
  replace.SetText(0, "banana");
  replace.SetNull(1);
  replace.SetText(2, "x");
  replace.Run("fn_strReplace");
  ASSERT_TRUE(replace.ran) << replace.status.Text();
  EXPECT_EQ(replace.TextResult(), "banana");
  EXPECT_FALSE(replace.ResultIsNull());

  // A NULL blob is read without the engine's blob interface.
  Call value({Blob(), Varchar(256)}, Varchar(4096));
  value.SetNull(0);
  value.SetText(1, "a");
  value.Run("fn_GetBlobValue");
  ASSERT_TRUE(value.ran) << value.status.Text();
  EXPECT_EQ(value.TextResult(), "");
  EXPECT_FALSE(value.ResultIsNull());
}

TEST_F(QXUdrDll, FailuresComeBackThroughTheStatus) {
  Call tooLong({Varchar(100), Varchar(10), Varchar(10)}, Varchar(5));
  tooLong.SetText(0, "abcdefgh");
  tooLong.SetText(1, "x");
  tooLong.SetText(2, "y");
  tooLong.Run("fn_strReplace");
  EXPECT_TRUE(tooLong.made);
  EXPECT_FALSE(tooLong.ran);
  EXPECT_EQ(tooLong.status.Text(),
            "fn_strReplace: the result of 8 bytes does not fit the declared 5 bytes");

  Call wrongType({Varchar(10), Integer()}, Integer());
  wrongType.Run("fn_setbit");
  EXPECT_FALSE(wrongType.made);
  EXPECT_EQ(wrongType.status.Text(), "fn_setbit: argument 1 must be declared INTEGER");

  Call wrongCount({Integer()}, Integer());
  wrongCount.Run("fn_minvalue");
  EXPECT_FALSE(wrongCount.made);
  EXPECT_EQ(wrongCount.status.Text(),
            "fn_minvalue: must be declared with 2 argument(s) and one result");
}

}  // namespace
