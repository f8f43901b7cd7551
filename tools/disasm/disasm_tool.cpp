// qxdisasm: prints our decoder's view of code in a loaded module.
//
//   qxdisasm [options] <module> <export>          listing of the exported function
//   qxdisasm [options] <module> <begin> <end>     instructions of an address range
//   qxdisasm --raw [options] <module> <export|begin> [<end>]
//                                                 one instruction per line: address,
//                                                 length, validity, branch kind, target, text
// Addresses are hexadecimal, absolute or "+rva" relative to the module's base.
// Options: --formatted, --limit N, --mark ADDRESS, --no-init (load without running the
// module's start-up code or resolving its imports).
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "decoder_win.h"
#include "function_analysis.h"

namespace {

int Usage() {
  std::fputs(
      "usage: qxdisasm [--raw] [--formatted] [--limit N] [--mark ADDR] [--no-init]\n"
      "                <module> <export | begin> [end]\n",
      stderr);
  return 2;
}

bool ParseAddress(const std::string& text, uint32_t base, uint32_t& address) {
  if (text.empty()) return false;
  bool relative = text[0] == '+';
  const char* digits = text.c_str() + (relative ? 1 : 0);
  if (digits[0] == '$') ++digits;
  char* end = nullptr;
  unsigned long value = std::strtoul(digits, &end, 16);
  if (!end || *end != 0 || end == digits) return false;
  address = static_cast<uint32_t>(value) + (relative ? base : 0);
  return true;
}

void PrintRaw(uint32_t begin, uint32_t end) {
  qx::CodeMemory& memory = qx::ProcessMemory();
  for (uint32_t at = begin; at < end;) {
    std::string text;
    qx::TInstrInfo info = qx::DecodeInstructionText(memory, at, text);
    uint32_t length = info.next - info.start;
    const char* kind = info.isCall ? "call" : info.isJump ? "jump" : "-";
    std::string shown = info.isValid && text.size() > 11 ? text.substr(11) : "(invalid)";
    std::printf("%08x %2u %-7s %-4s %08x  %s\n", at, length, info.isValid ? "valid" : "invalid",
                kind, info.target, shown.c_str());
    at = length ? info.next : at + 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool raw = false, formatted = false, noInit = false;
  int limit = 0;
  std::string markText;
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--raw") {
      raw = true;
    } else if (arg == "--formatted") {
      formatted = true;
    } else if (arg == "--no-init") {
      noInit = true;
    } else if (arg == "--limit" && i + 1 < argc) {
      limit = std::atoi(argv[++i]);
    } else if (arg == "--mark" && i + 1 < argc) {
      markText = argv[++i];
    } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
      return Usage();
    } else {
      args.push_back(arg);
    }
  }
  if (args.size() < 2 || args.size() > 3) return Usage();
  HMODULE module = noInit ? LoadLibraryExA(args[0].c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES)
                          : LoadLibraryA(args[0].c_str());
  if (!module) {
    std::fprintf(stderr, "qxdisasm: cannot load %s (error %lu)\n", args[0].c_str(),
                 GetLastError());
    return 1;
  }
  const uint32_t base = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(module));
  uint32_t begin = 0;
  if (!ParseAddress(args[1], base, begin)) {
    FARPROC proc = GetProcAddress(module, args[1].c_str());
    if (!proc) {
      std::fprintf(stderr, "qxdisasm: %s exports no %s\n", args[0].c_str(), args[1].c_str());
      return 1;
    }
    begin = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(proc));
  }
  uint32_t end = 0;
  if (args.size() == 3 && (!ParseAddress(args[2], base, end) || end < begin)) return Usage();
  uint32_t marked = 0;
  if (!markText.empty() && !ParseAddress(markText, base, marked)) return Usage();

  if (raw) {
    if (end == 0) {
      qx::TFunctionInfo info = qx::ParseFunction(qx::ProcessMemory(), begin);
      end = info.isValid ? info.codeBegin + info.codeLength : begin + 64;
    }
    PrintRaw(begin, end);
    return 0;
  }
  if (end != 0) {
    qx::CodeMemory& memory = qx::ProcessMemory();
    for (uint32_t at = begin; at < end;) {
      std::string text;
      qx::TInstrInfo info = qx::DecodeInstructionText(memory, at, text);
      std::printf("%s\n", text.c_str());
      at = info.next > at ? info.next : at + 1;
    }
    return 0;
  }
  qx::TFunctionInfo info;
  std::string listing =
      qx::DisassembleFunction(qx::ProcessMemory(), begin, marked, formatted, limit, &info);
  if (!info.isValid) {
    std::fprintf(stderr, "qxdisasm: %08x: %s (at %08x)\n", begin, info.lastErrorText.c_str(),
                 info.lastErrorAddr);
    return 1;
  }
  for (char& c : listing) {
    if (c == '\r') c = ' ';
  }
  std::printf("%s\n", listing.c_str());
  return 0;
}
