// One call of an SQL function through the engine's UDR interface: reads the arguments out
// of the engine's input message and writes the result into its output message. Every
// argument kind is read the way the external-function build receives it, so both give the
// same answers: an SQL NULL reads as 0, 0.0 or the empty text, and a text ends at its first
// zero byte.
#pragma once

#define FB_UDR_STATUS_TYPE ::Firebird::ThrowStatusWrapper
#include <firebird/UdrCppEngine.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace qx::udr {

using Status = ::Firebird::ThrowStatusWrapper;

// What an SQL function takes and returns, in the declared order.
enum class ArgKind : uint8_t { kInteger, kDouble, kText, kBlob };

constexpr unsigned kMaxArgs = 3;

struct Signature {
  const char* name;  // the routine's entry name, used in error messages
  unsigned argCount;
  ArgKind args[kMaxArgs];
  ArgKind result;
};

// Where one field of a message lives.
struct FieldSlot {
  unsigned offset = 0;
  unsigned nullOffset = 0;
  unsigned length = 0;  // bytes of data; for a VARCHAR the most it can hold
  unsigned type = 0;    // SQL_LONG, SQL_DOUBLE, SQL_VARYING, SQL_TEXT or SQL_BLOB
};

// The positions of the arguments and of the result in the messages of one routine, read
// once when the engine makes the routine, and checked against the signature so that a
// declaration with other types fails with a clear message instead of misreading memory.
class MessageLayout {
 public:
  MessageLayout(Status* status, ::Firebird::IRoutineMetadata* metadata,
                const Signature& signature);

  const Signature& signature() const { return *signature_; }
  const FieldSlot& arg(unsigned i) const { return args_[i]; }
  const FieldSlot& result() const { return result_; }

 private:
  const Signature* signature_;
  FieldSlot args_[kMaxArgs];
  FieldSlot result_;
};

class Call {
 public:
  Call(const MessageLayout& layout, Status* status, ::Firebird::IExternalContext* context,
       const unsigned char* in, unsigned char* out)
      : layout_(layout), status_(status), context_(context), in_(in), out_(out) {}

  int32_t Integer(unsigned i) const;
  double Double(unsigned i) const;
  std::string_view Text(unsigned i) const;
  // The whole blob, read in segments; an SQL NULL reads as the empty text.
  std::string Blob(unsigned i) const;

  void ReturnInteger(int32_t value);
  void ReturnDouble(double value);
  void ReturnText(std::string_view text);
  // Writes a new blob, in segments, holding exactly these bytes (none: an empty blob).
  void ReturnBlob(std::string_view bytes);

 private:
  bool IsNull(const FieldSlot& slot) const;
  unsigned char* ResultData();

  const MessageLayout& layout_;
  Status* status_;
  ::Firebird::IExternalContext* context_;
  const unsigned char* in_;
  unsigned char* out_;
};

// Fails the SQL statement with "<function>: <message>" through the status vector.
[[noreturn]] void RaiseSqlError(Status* status, const char* function, const char* message);

}  // namespace qx::udr
