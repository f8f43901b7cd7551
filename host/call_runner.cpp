#include "call_runner.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <map>

#include "ib_util_host.h"
#include "memory_blob.h"
#include "seh_guard.h"

namespace qxhost {

namespace {

class Parser {
 public:
  explicit Parser(const std::string& text) : s_(text) {}

  bool Parse(Call& call, std::string& error) {
    SkipBlanks();
    while (pos_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[pos_])) || s_[pos_] == '_')) {
      call.function.push_back(s_[pos_++]);
    }
    if (call.function.empty()) return Fail("function name expected", error);
    SkipBlanks();
    if (!Eat('(')) return Fail("'(' expected", error);
    SkipBlanks();
    if (!Eat(')')) {
      for (;;) {
        Argument arg;
        if (!ParseArgument(arg, error)) return false;
        call.arguments.push_back(std::move(arg));
        SkipBlanks();
        if (Eat(')')) break;
        if (!Eat(',')) return Fail("',' or ')' expected", error);
      }
    }
    SkipBlanks();
    if (pos_ != s_.size()) return Fail("unexpected text after ')'", error);
    return true;
  }

 private:
  bool ParseArgument(Argument& arg, std::string& error) {
    SkipBlanks();
    if (EatWord("blob:")) {
      if (EatWord("null")) {
        arg.kind = Argument::Kind::kNullBlob;
        return true;
      }
      arg.kind = Argument::Kind::kBlob;
      return ParseQuoted(arg.text, error);
    }
    if (EatWord("null")) {
      arg.kind = Argument::Kind::kNull;
      return true;
    }
    if (pos_ < s_.size() && s_[pos_] == '\'') {
      arg.kind = Argument::Kind::kText;
      return ParseQuoted(arg.text, error);
    }
    const size_t start = pos_;
    while (pos_ < s_.size() && s_[pos_] != ',' && s_[pos_] != ')' && !std::isspace(static_cast<unsigned char>(s_[pos_]))) {
      ++pos_;
    }
    if (start == pos_) return Fail("argument expected", error);
    arg.kind = Argument::Kind::kNumber;
    arg.text = s_.substr(start, pos_ - start);
    return true;
  }

  bool ParseQuoted(std::string& out, std::string& error) {
    if (!Eat('\'')) return Fail("quote expected", error);
    for (;;) {
      if (pos_ >= s_.size()) return Fail("unterminated text", error);
      char c = s_[pos_++];
      if (c == '\'') {
        if (Eat('\'')) {  // '' stands for one quote, as in SQL
          out.push_back('\'');
          continue;
        }
        return true;
      }
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) return Fail("unterminated escape", error);
      char e = s_[pos_++];
      switch (e) {
        case 'r': out.push_back('\r'); break;
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case '0': out.push_back('\0'); break;
        case '\\': out.push_back('\\'); break;
        case '\'': out.push_back('\''); break;
        case 'x': {
          if (pos_ + 2 > s_.size()) return Fail("\\x needs two hex digits", error);
          char hex[3] = {s_[pos_], s_[pos_ + 1], 0};
          char* end = nullptr;
          long v = std::strtol(hex, &end, 16);
          if (end != hex + 2) return Fail("\\x needs two hex digits", error);
          out.push_back(static_cast<char>(v));
          pos_ += 2;
          break;
        }
        default: return Fail(std::string("unknown escape \\") + e, error);
      }
    }
  }

  void SkipBlanks() {
    while (pos_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  bool Eat(char c) {
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }
  bool EatWord(const char* word) {
    const size_t n = std::strlen(word);
    if (s_.compare(pos_, n, word) == 0) {
      pos_ += n;
      return true;
    }
    return false;
  }
  bool Fail(const std::string& what, std::string& error) {
    error = what + " at offset " + std::to_string(pos_);
    return false;
  }

  const std::string& s_;
  size_t pos_ = 0;
};

// Argument conversion: what the server would have in its parameter buffers.
struct Arguments {
  const std::vector<Argument>& list;
  std::string error;
  std::vector<int32_t> ints = std::vector<int32_t>(8);
  std::vector<double> doubles = std::vector<double>(8);

  bool Count(size_t n) {
    if (list.size() == n) return true;
    error = "expects " + std::to_string(n) + " arguments, got " + std::to_string(list.size());
    return false;
  }
  const int32_t* Int(size_t i) {
    if (list[i].kind == Argument::Kind::kNull) return nullptr;
    char* end = nullptr;
    long long v = std::strtoll(list[i].text.c_str(), &end, 0);
    if (list[i].kind != Argument::Kind::kNumber || *end != '\0' ||
        v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<uint32_t>::max()) {
      error = "argument " + std::to_string(i + 1) + " must be an integer";
      return nullptr;
    }
    ints[i] = static_cast<int32_t>(v);
    return &ints[i];
  }
  const double* Double(size_t i) {
    if (list[i].kind == Argument::Kind::kNull) return nullptr;
    char* end = nullptr;
    double v = std::strtod(list[i].text.c_str(), &end);
    if (list[i].kind != Argument::Kind::kNumber || *end != '\0') {
      error = "argument " + std::to_string(i + 1) + " must be a number";
      return nullptr;
    }
    doubles[i] = v;
    return &doubles[i];
  }
  const char* Text(size_t i) {
    if (list[i].kind == Argument::Kind::kNull) return nullptr;
    if (list[i].kind != Argument::Kind::kText) {
      error = "argument " + std::to_string(i + 1) + " must be a quoted text";
      return nullptr;
    }
    return list[i].text.c_str();
  }
};

std::string TakeServerText(char* block) {
  if (block == nullptr) return "<null pointer>";
  std::string text = QuoteBytes(block);
  ib_util_free(block);
  return text;
}

}  // namespace

bool ParseCall(const std::string& expression, Call& call, std::string& error) {
  call = Call{};
  return Parser(expression).Parse(call, error);
}

std::string QuoteBytes(const std::string& bytes) {
  std::string out = "'";
  for (unsigned char c : bytes) {
    switch (c) {
      case '\r': out += "\\r"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      case '\\': out += "\\\\"; break;
      case '\'': out += "\\'"; break;
      default:
        if (c < 32 || c == 127) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out + "'";
}

bool RunCall(const UdfLibrary& library, const Call& call, const RunOptions& options,
             std::string& result, std::string& error) {
  const UdfExports& fn = library.fn();
  Arguments a{call.arguments, {}};
  std::function<void()> invoke;
  auto ints2 = [&](int32_t(__cdecl * f)(const int32_t*, const int32_t*)) {
    if (!a.Count(2)) return;
    const int32_t* x = a.Int(0);
    const int32_t* y = a.Int(1);
    if (a.error.empty()) invoke = [&, f, x, y] { result = std::to_string(f(x, y)); };
  };

  // Blob arguments live until the call has been run and its result read.
  std::vector<MemoryBlob> blobs;
  blobs.reserve(2);
  auto blobArg = [&](size_t i) -> const BlobDescriptor* {
    if (call.arguments[i].kind == Argument::Kind::kNullBlob) return nullptr;
    if (call.arguments[i].kind != Argument::Kind::kBlob) {
      a.error = "argument " + std::to_string(i + 1) + " must be blob:'...'";
      return nullptr;
    }
    blobs.push_back(MemoryBlob::Input(call.arguments[i].text, options.segmentSize));
    return blobs.back().descriptor();
  };

  const std::string& name = call.function;
  if (name == "fn_setbit") {
    ints2(fn.setbit);
  } else if (name == "fn_clearbit") {
    ints2(fn.clearbit);
  } else if (name == "fn_checkbit") {
    ints2(fn.checkbit);
  } else if (name == "fn_minvalue") {
    ints2(fn.minvalue);
  } else if (name == "fn_maxvalue") {
    ints2(fn.maxvalue);
  } else if (name == "fn_incday") {
    if (a.Count(2)) {
      const double* d = a.Double(0);
      const int32_t* n = a.Int(1);
      invoke = [&, d, n] {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", fn.incday(d, n));
        result = buf;
      };
    }
  } else if (name == "fn_factbedragbetaald") {
    if (a.Count(2)) {
      const int32_t* amount = a.Int(0);
      const char* flag = a.Text(1);
      invoke = [&, amount, flag] { result = std::to_string(fn.factbedragbetaald(amount, flag)); };
    }
  } else if (name == "fn_BoolStringToInt") {
    if (a.Count(1)) {
      const char* s = a.Text(0);
      invoke = [&, s] { result = std::to_string(fn.BoolStringToInt(s)); };
    }
  } else if (name == "fn_inttocnk") {
    if (a.Count(1)) {
      const int32_t* v = a.Int(0);
      invoke = [&, v] { result = TakeServerText(fn.inttocnk(v)); };
    }
  } else if (name == "fn_formatDouble") {
    if (a.Count(1)) {
      const double* v = a.Double(0);
      invoke = [&, v] { result = TakeServerText(fn.formatDouble(v)); };
    }
  } else if (name == "fn_strReplace") {
    if (a.Count(3)) {
      const char* s = a.Text(0);
      const char* o = a.Text(1);
      const char* n = a.Text(2);
      invoke = [&, s, o, n] { result = TakeServerText(fn.strReplace(s, o, n)); };
    }
  } else if (name == "fn_GetBlobValue") {
    if (a.Count(2)) {
      const BlobDescriptor* b = blobArg(0);
      const char* key = a.Text(1);
      invoke = [&, b, key] { result = TakeServerText(fn.GetBlobValue(b, key)); };
    }
  } else if (name == "fn_TrimRTF") {
    if (a.Count(1)) {
      const BlobDescriptor* in = blobArg(0);
      blobs.push_back(MemoryBlob::Output());
      MemoryBlob* out = &blobs.back();
      invoke = [&, in, out] {
        BlobDescriptor* returned = fn.TrimRTF(in, out->descriptor());
        result = "blob:" + QuoteBytes(out->data());
        if (returned != out->descriptor()) result += " (wrong descriptor returned)";
      };
    }
  } else if (name == "qelTraceProcess") {
    if (fn.qelTraceProcess == nullptr) {
      error = "qelTraceProcess: this module does not export it";
      return false;
    }
    if (a.Count(1)) {
      const int32_t* v = a.Int(0);
      if (v != nullptr) {
        int32_t n = *v;
        invoke = [&, n] { result = std::to_string(fn.qelTraceProcess(n)); };
      }
    }
  } else {
    error = "unknown function " + name;
    return false;
  }
  if (!a.error.empty() || !invoke) {
    error = name + ": " + (a.error.empty() ? "bad arguments" : a.error);
    return false;
  }

  SehOutcome outcome = RunUnderSeh(invoke);
  if (outcome.raised) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s failed: exception $%08lx, parameter %lu", name.c_str(),
                  static_cast<unsigned long>(outcome.code),
                  static_cast<unsigned long>(outcome.firstParameter));
    error = buf;
    return false;
  }
  return true;
}

}  // namespace qxhost
