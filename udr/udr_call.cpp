#include "udr_call.h"

#include <cstdio>
#include <cstring>

#include "blob_transfer.h"

namespace qx::udr {

namespace {

const char* KindName(ArgKind kind) {
  switch (kind) {
    case ArgKind::kInteger: return "INTEGER";
    case ArgKind::kDouble: return "DOUBLE PRECISION";
    case ArgKind::kText: return "VARCHAR";
    case ArgKind::kBlob: return "BLOB";
  }
  return "?";
}

bool TypeFits(unsigned type, unsigned length, int scale, ArgKind kind) {
  switch (kind) {
    case ArgKind::kInteger: return type == SQL_LONG && length == sizeof(int32_t) && scale == 0;
    case ArgKind::kDouble: return type == SQL_DOUBLE && length == sizeof(double);
    case ArgKind::kText: return type == SQL_VARYING || type == SQL_TEXT;
    case ArgKind::kBlob: return type == SQL_BLOB;
  }
  return false;
}

// Reads one field's position and checks its declared type; `what` names it in the error.
FieldSlot ReadSlot(Status* status, ::Firebird::IMessageMetadata* message, unsigned index,
                   ArgKind kind, const char* function, const char* what) {
  FieldSlot slot;
  // The engine reports the type without the nullable bit; mask it anyway.
  slot.type = message->getType(status, index) & ~1u;
  slot.length = message->getLength(status, index);
  slot.offset = message->getOffset(status, index);
  slot.nullOffset = message->getNullOffset(status, index);
  if (!TypeFits(slot.type, slot.length, message->getScale(status, index), kind)) {
    char text[160];
    std::snprintf(text, sizeof text, "%s must be declared %s", what, KindName(kind));
    RaiseSqlError(status, function, text);
  }
  return slot;
}

// Releases an interface the engine handed out with a reference for us.
template <class T>
struct Released {
  T* object;
  ~Released() {
    if (object != nullptr) object->release();
  }
};

}  // namespace

void RaiseSqlError(Status* status, const char* function, const char* message) {
  char text[512];
  std::snprintf(text, sizeof text, "%s: %s", function, message);
  const ISC_STATUS vector[] = {isc_arg_gds, isc_random, isc_arg_string,
                               reinterpret_cast<ISC_STATUS>(text), isc_arg_end};
  // The engine's status keeps its own copy of the text.
  throw ::Firebird::FbException(status, vector);
}

MessageLayout::MessageLayout(Status* status, ::Firebird::IRoutineMetadata* metadata,
                             const Signature& signature)
    : signature_(&signature) {
  Released<::Firebird::IMessageMetadata> in{metadata->getInputMetadata(status)};
  Released<::Firebird::IMessageMetadata> out{metadata->getOutputMetadata(status)};
  const unsigned inCount = in.object->getCount(status);
  if (inCount != signature.argCount || out.object->getCount(status) != 1) {
    char text[160];
    std::snprintf(text, sizeof text, "must be declared with %u argument(s) and one result",
                  signature.argCount);
    RaiseSqlError(status, signature.name, text);
  }
  for (unsigned i = 0; i < inCount; ++i) {
    char what[32];
    std::snprintf(what, sizeof what, "argument %u", i + 1);
    args_[i] = ReadSlot(status, in.object, i, signature.args[i], signature.name, what);
  }
  result_ = ReadSlot(status, out.object, 0, signature.result, signature.name, "the result");
}

bool Call::IsNull(const FieldSlot& slot) const {
  int16_t flag;
  std::memcpy(&flag, in_ + slot.nullOffset, sizeof flag);
  return flag != 0;
}

int32_t Call::Integer(unsigned i) const {
  const FieldSlot& slot = layout_.arg(i);
  if (IsNull(slot)) return 0;
  int32_t value;
  std::memcpy(&value, in_ + slot.offset, sizeof value);
  return value;
}

double Call::Double(unsigned i) const {
  const FieldSlot& slot = layout_.arg(i);
  if (IsNull(slot)) return 0.0;
  double value;
  std::memcpy(&value, in_ + slot.offset, sizeof value);
  return value;
}

std::string_view Call::Text(unsigned i) const {
  const FieldSlot& slot = layout_.arg(i);
  if (IsNull(slot)) return {};
  const char* data = reinterpret_cast<const char*>(in_ + slot.offset);
  size_t length = slot.length;
  if (slot.type == SQL_VARYING) {
    uint16_t declared;
    std::memcpy(&declared, data, sizeof declared);
    data += sizeof declared;
    length = declared < slot.length ? declared : slot.length;
  }
  // Where the external-function build gets a zero-terminated text, the text ends at its
  // first zero byte; the same here, so both builds answer alike.
  return std::string_view(data, strnlen(data, length));
}

std::string Call::Blob(unsigned i) const {
  const FieldSlot& slot = layout_.arg(i);
  if (IsNull(slot)) return {};
  ISC_QUAD id;
  std::memcpy(&id, in_ + slot.offset, sizeof id);
  return ReadWholeBlob(status_, context_, id, layout_.signature().name);
}

unsigned char* Call::ResultData() {
  const FieldSlot& slot = layout_.result();
  const int16_t notNull = 0;
  std::memcpy(out_ + slot.nullOffset, &notNull, sizeof notNull);
  return out_ + slot.offset;
}

void Call::ReturnInteger(int32_t value) { std::memcpy(ResultData(), &value, sizeof value); }

void Call::ReturnDouble(double value) { std::memcpy(ResultData(), &value, sizeof value); }

void Call::ReturnText(std::string_view text) {
  const FieldSlot& slot = layout_.result();
  if (text.size() > slot.length) {
    char message[160];
    std::snprintf(message, sizeof message,
                  "the result of %zu bytes does not fit the declared %u bytes", text.size(),
                  slot.length);
    RaiseSqlError(status_, layout_.signature().name, message);
  }
  unsigned char* data = ResultData();
  if (slot.type == SQL_VARYING) {
    const uint16_t length = static_cast<uint16_t>(text.size());
    std::memcpy(data, &length, sizeof length);
    data += sizeof length;
    std::memcpy(data, text.data(), text.size());
  } else {
    std::memcpy(data, text.data(), text.size());
    std::memset(data + text.size(), ' ', slot.length - text.size());
  }
}

void Call::ReturnBlob(std::string_view bytes) {
  ISC_QUAD id;
  WriteNewBlob(status_, context_, &id, bytes);
  std::memcpy(ResultData(), &id, sizeof id);
}

}  // namespace qx::udr
