// The thirteen SQL functions as UDR routines of the module QXUdr. Each routine only moves
// its arguments out of the engine's message, calls the portable function and moves the
// answer back; a failure becomes an SQL error of the statement, never a fault of the
// engine.
#include <cstdio>
#include <new>
#include <stdexcept>
#include <string>

#include "platform.h"
#include "sql_functions.h"
#include "udf_failure.h"
#include "udr_call.h"

namespace qx::udr {

namespace {

using ::Firebird::IExternalContext;
using ::Firebird::IRoutineMetadata;

constexpr ArgKind kInt = ArgKind::kInteger;
constexpr ArgKind kDbl = ArgKind::kDouble;
constexpr ArgKind kTxt = ArgKind::kText;
constexpr ArgKind kBlb = ArgKind::kBlob;

using Body = void (*)(Call&);

void RunGuarded(Status* status, const char* function, Call& call, Body body) {
  char problem[160];
  try {
    body(call);
    return;
  } catch (const ::Firebird::FbException&) {
    throw;  // the engine's own error (a blob call, a raised message): already in the status
  } catch (const std::bad_alloc&) {
    std::snprintf(problem, sizeof problem, "out of memory");
  } catch (const std::length_error&) {
    std::snprintf(problem, sizeof problem, "out of memory");
  } catch (const RichTextFailure& failure) {
    std::snprintf(problem, sizeof problem, "the rich-text conversion failed (%s)",
                  failure.what != nullptr ? failure.what : "no reason given");
  } catch (...) {
    std::snprintf(problem, sizeof problem, "internal error");
  }
  RaiseSqlError(status, function, problem);
}

// One routine: the positions of its fields are read when the engine makes it (once per
// attachment and declaration), each call only copies values.
template <const Signature& kSignature, Body kBody>
class SqlFunction : public ::Firebird::Udr::Function<SqlFunction<kSignature, kBody>, Status> {
 public:
  SqlFunction(Status* status, IExternalContext*, IRoutineMetadata* metadata)
      : layout_(status, metadata, kSignature) {}

  void execute(Status* status, IExternalContext* context, void* in, void* out) {
    Call call(layout_, status, context, static_cast<const unsigned char*>(in),
              static_cast<unsigned char*>(out));
    RunGuarded(status, kSignature.name, call, kBody);
  }

 private:
  MessageLayout layout_;
};

template <const Signature& kSignature, Body kBody>
using Factory = ::Firebird::Udr::FunctionFactoryImpl<SqlFunction<kSignature, kBody>, Status>;

// A text argument where the portable function takes a zero-terminated one.
std::string Terminated(std::string_view text) { return std::string(text); }

bool NameEquals(std::string_view a, std::string_view b) { return NamesEqualIgnoringCase(a, b); }

constexpr Signature kSetBit{"fn_setbit", 2, {kInt, kInt}, kInt};
void SetBitBody(Call& c) { c.ReturnInteger(SetBit(c.Integer(0), c.Integer(1))); }

constexpr Signature kClearBit{"fn_clearbit", 2, {kInt, kInt}, kInt};
void ClearBitBody(Call& c) { c.ReturnInteger(ClearBit(c.Integer(0), c.Integer(1))); }

constexpr Signature kCheckBit{"fn_checkbit", 2, {kInt, kInt}, kInt};
void CheckBitBody(Call& c) { c.ReturnInteger(CheckBit(c.Integer(0), c.Integer(1))); }

constexpr Signature kMinValue{"fn_minvalue", 2, {kInt, kInt}, kInt};
void MinValueBody(Call& c) { c.ReturnInteger(MinValue(c.Integer(0), c.Integer(1))); }

constexpr Signature kMaxValue{"fn_maxvalue", 2, {kInt, kInt}, kInt};
void MaxValueBody(Call& c) { c.ReturnInteger(MaxValue(c.Integer(0), c.Integer(1))); }

constexpr Signature kIncDay{"fn_incday", 2, {kDbl, kInt}, kDbl};
void IncDayBody(Call& c) { c.ReturnDouble(IncDay(c.Double(0), c.Integer(1))); }

constexpr Signature kFactBedragBetaald{"fn_factbedragbetaald", 2, {kInt, kTxt}, kInt};
void FactBedragBetaaldBody(Call& c) {
  c.ReturnInteger(FactBedragBetaald(c.Integer(0), Terminated(c.Text(1)).c_str()));
}

constexpr Signature kBoolStringToInt{"fn_BoolStringToInt", 1, {kTxt}, kInt};
void BoolStringToIntBody(Call& c) {
  c.ReturnInteger(BoolStringToInt(Terminated(c.Text(0)).c_str()));
}

constexpr Signature kIntToCnk{"fn_inttocnk", 1, {kInt}, kTxt};
void IntToCnkBody(Call& c) { c.ReturnText(IntToCnk(c.Integer(0))); }

constexpr Signature kFormatDouble{"fn_formatDouble", 1, {kDbl}, kTxt};
void FormatDoubleBody(Call& c) { c.ReturnText(FormatDouble(c.Double(0), DecimalSeparator())); }

constexpr Signature kStrReplace{"fn_strReplace", 3, {kTxt, kTxt, kTxt}, kTxt};
void StrReplaceBody(Call& c) {
  c.ReturnText(StrReplace(c.Text(0), c.Text(1), c.Text(2), LeadBytePredicateForSystem()));
}

constexpr Signature kGetBlobValue{"fn_GetBlobValue", 2, {kBlb, kTxt}, kTxt};
void GetBlobValueBody(Call& c) { c.ReturnText(GetBlobValue(c.Blob(0), c.Text(1), NameEquals)); }

constexpr Signature kTrimRtf{"fn_TrimRTF", 1, {kBlb}, kBlb};
void TrimRtfBody(Call& c) {
  std::string text = c.Blob(0);
  if (!text.empty() && RichTextIsBlank(text)) text.clear();
  c.ReturnBlob(text);
}

// Registered with the engine's UDR plug-in when it loads the module.
Factory<kSetBit, SetBitBody> setBitFactory(kSetBit.name);
Factory<kClearBit, ClearBitBody> clearBitFactory(kClearBit.name);
Factory<kCheckBit, CheckBitBody> checkBitFactory(kCheckBit.name);
Factory<kMinValue, MinValueBody> minValueFactory(kMinValue.name);
Factory<kMaxValue, MaxValueBody> maxValueFactory(kMaxValue.name);
Factory<kIncDay, IncDayBody> incDayFactory(kIncDay.name);
Factory<kFactBedragBetaald, FactBedragBetaaldBody> factBedragBetaaldFactory(
    kFactBedragBetaald.name);
Factory<kBoolStringToInt, BoolStringToIntBody> boolStringToIntFactory(kBoolStringToInt.name);
Factory<kIntToCnk, IntToCnkBody> intToCnkFactory(kIntToCnk.name);
Factory<kFormatDouble, FormatDoubleBody> formatDoubleFactory(kFormatDouble.name);
Factory<kStrReplace, StrReplaceBody> strReplaceFactory(kStrReplace.name);
Factory<kGetBlobValue, GetBlobValueBody> getBlobValueFactory(kGetBlobValue.name);
Factory<kTrimRtf, TrimRtfBody> trimRtfFactory(kTrimRtf.name);

}  // namespace

}  // namespace qx::udr

// The module's one export, firebird_udr_plugin, which hands the factories to the engine.
FB_UDR_IMPLEMENT_ENTRY_POINT
