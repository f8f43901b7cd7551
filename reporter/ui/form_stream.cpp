#include "form_stream.h"

#include <cstdint>
#include <cstring>

namespace qx {
namespace {

// Value type bytes of the component stream.
enum : uint8_t {
  kNull = 0,
  kList = 1,
  kInt8 = 2,
  kInt16 = 3,
  kInt32 = 4,
  kString = 6,
  kIdent = 7,
  kFalse = 8,
  kTrue = 9,
  kBinary = 10,
  kSet = 11,
  kLString = 12,
  kNil = 13,
  kWString = 18,
  kInt64 = 19,
  kUtf8String = 20,
};

constexpr int kMaxDepth = 16;
constexpr size_t kMaxListItems = 4096;

class StreamReader {
 public:
  explicit StreamReader(std::string_view bytes) : bytes_(bytes) {}

  bool AtEnd() const { return at_ == bytes_.size(); }
  bool Byte(uint8_t& value) {
    if (at_ >= bytes_.size()) return false;
    value = static_cast<uint8_t>(bytes_[at_++]);
    return true;
  }
  bool PeekByte(uint8_t& value) const {
    if (at_ >= bytes_.size()) return false;
    value = static_cast<uint8_t>(bytes_[at_]);
    return true;
  }
  bool Bytes(size_t count, std::string& out) {
    if (count > bytes_.size() - at_) return false;
    out.assign(bytes_.data() + at_, count);
    at_ += count;
    return true;
  }
  template <class Int>
  bool Little(Int& value) {
    std::string raw;
    if (!Bytes(sizeof(Int), raw)) return false;
    std::memcpy(&value, raw.data(), sizeof(Int));  // the module only runs on little-endian
    return true;
  }
  bool ShortText(std::string& out) {
    uint8_t length = 0;
    return Byte(length) && Bytes(length, out);
  }
  bool LongText(std::string& out) {
    uint32_t length = 0;
    return Little(length) && Bytes(length, out);
  }

 private:
  std::string_view bytes_;
  size_t at_ = 0;
};

bool ReadTyped(StreamReader& in, uint8_t type, std::string& text, int depth);

// A set: identifiers up to an empty one, shown as "[a,b]".
bool ReadSet(StreamReader& in, std::string& text) {
  text = "[";
  for (size_t count = 0; count < kMaxListItems; ++count) {
    std::string item;
    if (!in.ShortText(item)) return false;
    if (item.empty()) {
      text += "]";
      return true;
    }
    if (count > 0) text += ",";
    text += item;
  }
  return false;
}

// A list: values up to a 0 type byte, shown as "(a,b)".
bool ReadList(StreamReader& in, std::string& text, int depth) {
  if (depth > kMaxDepth) return false;
  text = "(";
  for (size_t count = 0; count < kMaxListItems; ++count) {
    uint8_t next = 0;
    if (!in.PeekByte(next)) return false;
    if (next == kNull) {
      in.Byte(next);
      text += ")";
      return true;
    }
    std::string item;
    uint8_t type = 0;
    in.Byte(type);
    if (!ReadTyped(in, type, item, depth + 1)) return false;
    if (count > 0) text += ",";
    text += item;
  }
  return false;
}

// UTF-16 code units to 8-bit text: what the code page cannot show becomes "?".
std::string NarrowWide(const std::string& raw) {
  std::string text;
  for (size_t i = 0; i + 1 < raw.size(); i += 2) {
    unsigned unit = static_cast<uint8_t>(raw[i]) | (static_cast<uint8_t>(raw[i + 1]) << 8);
    text += unit < 256 ? static_cast<char>(unit) : '?';
  }
  return text;
}

template <class Int>
bool IntegerText(StreamReader& in, std::string& text) {
  Int value = 0;
  if (!in.Little(value)) return false;
  text = std::to_string(value);
  return true;
}

bool ReadTyped(StreamReader& in, uint8_t type, std::string& text, int depth) {
  switch (type) {
    case kNull:
    case kNil:
      text.clear();
      return true;
    case kInt8:
      return IntegerText<int8_t>(in, text);
    case kInt16:
      return IntegerText<int16_t>(in, text);
    case kInt32:
      return IntegerText<int32_t>(in, text);
    case kInt64:
      return IntegerText<int64_t>(in, text);
    case kFalse:
      text = "False";
      return true;
    case kTrue:
      text = "True";
      return true;
    case kString:
    case kIdent:
      return in.ShortText(text);
    case kLString:
    case kUtf8String:
    case kBinary:
      return in.LongText(text);
    case kWString: {
      uint32_t units = 0;
      std::string raw;
      if (!in.Little(units) || units > 0x7fffffff / 2 || !in.Bytes(size_t{units} * 2, raw))
        return false;
      text = NarrowWide(raw);
      return true;
    }
    case kSet:
      return ReadSet(in, text);
    case kList:
      return ReadList(in, text, depth + 1);
    default:
      return false;
  }
}

bool ReadObject(StreamReader& in, FormObject& object, int depth) {
  if (depth > kMaxDepth) return false;
  uint8_t first = 0;
  if (!in.PeekByte(first)) return false;
  if ((first & 0xf0) == 0xf0) {
    // Filer flags: inherited, child position (an integer value follows), inline.
    in.Byte(first);
    if (first & 0x02) {
      uint8_t type = 0;
      std::string position;
      if (!in.Byte(type) || (type != kInt8 && type != kInt16 && type != kInt32) ||
          !ReadTyped(in, type, position, depth))
        return false;
    }
  }
  if (!in.ShortText(object.className) || !in.ShortText(object.name)) return false;
  if (object.className.empty()) return false;
  for (;;) {
    std::string name;
    if (!in.ShortText(name)) return false;
    if (name.empty()) break;
    uint8_t type = 0;
    std::string value;
    if (!in.Byte(type) || !ReadTyped(in, type, value, depth)) return false;
    if (object.properties.size() >= kMaxListItems) return false;
    object.properties.emplace_back(std::move(name), std::move(value));
  }
  for (;;) {
    uint8_t next = 0;
    if (!in.PeekByte(next)) return false;
    if (next == 0) {
      in.Byte(next);
      return true;
    }
    if (object.children.size() >= kMaxListItems) return false;
    object.children.emplace_back();
    if (!ReadObject(in, object.children.back(), depth + 1)) return false;
  }
}

}  // namespace

bool ReadFormStream(std::string_view bytes, FormObject& root) {
  root = FormObject{};
  if (bytes.size() < 4 || bytes.substr(0, 4) != "TPF0") return false;
  StreamReader in(bytes.substr(4));
  return ReadObject(in, root, 0) && in.AtEnd();
}

}  // namespace qx
