// Our decoder against capstone over the exported functions of Wine's i386 DLLs: length,
// validity, call/jump kind, relative target and mnemonic must agree, except for the
// deliberate differences listed below, each with its reason.
#include <capstone/capstone.h>
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <sstream>

#include "decoder.h"
#include "function_analysis.h"
#include "pe_image.h"

namespace {

const char* const kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
const char* const kCorpus[] = {
    "ntdll.dll",    "kernelbase.dll", "kernel32.dll", "msvcrt.dll",   "user32.dll",
    "gdi32.dll",    "advapi32.dll",   "ole32.dll",    "oleaut32.dll", "shell32.dll",
    "comctl32.dll", "shlwapi.dll",    "rpcrt4.dll",   "ws2_32.dll",   "wininet.dll",
    "crypt32.dll",  "msvcr120.dll",   "msvcp140.dll", "ucrtbase.dll", "d3dx9_43.dll",
    "windowscodecs.dll", "msxml3.dll", "jscript.dll", "urlmon.dll",   "setupapi.dll",
    "winmm.dll",    "dbghelp.dll",    "riched20.dll", "msi.dll",      "wined3d.dll",
};

struct Theirs {
  bool valid = false;
  uint32_t length = 0;
  bool isCall = false, isJump = false;
  uint32_t relTarget = 0;
  std::string mnemonic;  // last word: prefixes dropped
  std::string text;
};

struct Ours {
  qx::TInstrInfo info;
  std::string mnemonic;
  std::string text;
};

std::string LastWord(const std::string& text) {
  std::istringstream words(text);
  std::string word, last;
  static const std::set<std::string> kPrefixes = {"lock", "rep", "repe", "repz", "repne",
                                                   "repnz", "bnd", "notrack", "data16"};
  while (words >> word) {
    if (!kPrefixes.count(word)) return word;
  }
  return last;
}

class Capstone {
 public:
  Capstone() {
    cs_open(CS_ARCH_X86, CS_MODE_32, &handle_);
    cs_option(handle_, CS_OPT_DETAIL, CS_OPT_ON);
    insn_ = cs_malloc(handle_);
  }
  ~Capstone() {
    cs_free(insn_, 1);
    cs_close(&handle_);
  }
  Theirs Decode(const uint8_t* bytes, size_t size, uint32_t address) {
    Theirs t;
    const uint8_t* code = bytes;
    uint64_t at = address;
    if (!cs_disasm_iter(handle_, &code, &size, &at, insn_)) return t;
    t.valid = true;
    t.length = insn_->size;
    t.mnemonic = LastWord(insn_->mnemonic);
    t.text = std::string(insn_->mnemonic) + " " + insn_->op_str;
    const cs_detail* detail = insn_->detail;
    for (unsigned i = 0; i < detail->groups_count; ++i) {
      if (detail->groups[i] == X86_GRP_CALL) t.isCall = true;
      if (detail->groups[i] == X86_GRP_JUMP) t.isJump = true;
    }
    const cs_x86& x86 = detail->x86;
    if ((t.isCall || t.isJump) && x86.op_count == 1 && x86.operands[0].type == X86_OP_IMM &&
        insn_->id != X86_INS_LCALL && insn_->id != X86_INS_LJMP) {
      t.relTarget = static_cast<uint32_t>(x86.operands[0].imm);
    }
    return t;
  }

 private:
  csh handle_ = 0;
  cs_insn* insn_ = nullptr;
};

std::string Mnemonic(const std::string& text) {
  // "00401000   lock add     ..." -> the first word after the prefixes.
  return text.size() > 11 ? LastWord(text.substr(11)) : std::string();
}

// Spellings that differ only in name: ours, then capstone's.
const std::map<std::string, std::string> kSpelling = {
    // capstone spells the all-register pushes and pops with an "l" suffix.
    {"pushad", "pushal"}, {"popad", "popal"},
    // our condition-code list has one spelling per code; capstone uses the other one.
    {"jz", "je"}, {"jnz", "jne"}, {"jnb", "jae"}, {"cmovz", "cmove"}, {"cmovnz", "cmovne"},
    {"cmovnb", "cmovae"}, {"setz", "sete"}, {"setnz", "setne"}, {"setnb", "setae"},
    {"jp", "jp"}, {"jnp", "jnp"},
    {"fcmovnb", "fcmovnb"},
};

// Why a disagreement is deliberate; empty when it is not.
std::string Deliberate(const uint8_t* bytes, const Ours& ours, const Theirs& theirs) {
  const qx::TInstrInfo& i = ours.info;
  // A call to the very next instruction only pushes its address (position-independent
  // code): the decoder does not count it as a call.
  if (i.isValid && theirs.valid && i.opcode == 0xE8 && i.next - i.start == theirs.length &&
      theirs.relTarget == i.next && !i.isCall) {
    return "call to the next instruction";
  }
  if (i.isValid && theirs.valid && i.next - i.start == theirs.length) {
    auto spelled = kSpelling.find(ours.mnemonic);
    if (spelled != kSpelling.end() && spelled->second == theirs.mnemonic) return "spelling";
    // The one-byte breakpoint is listed as "int 3", the same as CDh 03h.
    if (i.opcode == 0xCC && theirs.mnemonic == "int3") return "int 3 spelling";
  }
  return {};
}

struct Tally {
  uint64_t instructions = 0;
  uint64_t deliberate = 0;
  std::map<std::string, uint64_t> reasons;
  std::vector<std::string> failures;
};

void CompareFunction(const qxtest::PeImage& image, qxtest::ImageMemory& memory,
                     uint32_t entry, uint32_t limit, Capstone& capstone, Tally& tally) {
  uint32_t address = entry;
  for (int count = 0; count < 3000 && address < limit; ++count) {
    Ours ours;
    ours.info = qx::DecodeInstructionText(memory, address, ours.text);
    ours.mnemonic = Mnemonic(ours.text);
    const uint8_t* bytes = image.bytes() + (address - image.base());
    Theirs theirs = capstone.Decode(bytes, std::min<uint32_t>(16, limit - address), address);
    ++tally.instructions;
    const qx::TInstrInfo& i = ours.info;
    const uint32_t length = i.next - i.start;
    bool same = i.isValid == theirs.valid;
    if (same && theirs.valid) {
      same = length == theirs.length && ours.mnemonic == theirs.mnemonic &&
             !!i.isCall == theirs.isCall && !!i.isJump == theirs.isJump &&
             (!i.isRelTarget || i.target == theirs.relTarget);
    }
    if (!same) {
      std::string reason = Deliberate(bytes, ours, theirs);
      if (reason.empty()) {
        std::ostringstream line;
        line << image.path().substr(image.path().rfind('/') + 1) << " ours: " << ours.text
             << (i.isCall ? " [call]" : "") << (i.isJump ? " [jump]" : "")
             << " | capstone: " << (theirs.valid ? theirs.text : "(invalid)") << " len "
             << theirs.length << (theirs.isCall ? " [call]" : "")
             << (theirs.isJump ? " [jump]" : "") << " | bytes";
        for (unsigned k = 0; k < 8 && address + k < limit; ++k) {
          char hex[4];
          snprintf(hex, sizeof hex, " %02x", bytes[k]);
          line << hex;
        }
        tally.failures.push_back(line.str());
        return;
      }
      ++tally.deliberate;
      ++tally.reasons[reason];
    }
    if (!i.isValid || !theirs.valid) return;
    const uint16_t op = i.opcode;
    if (op == 0xC3 || op == 0xC2 || op == 0xE9 || op == 0xEB ||
        (op == 0xFF && ((i.modRm >> 3) & 7) == 4)) {
      return;
    }
    address = i.next;
  }
}

TEST(Differential, AgreesWithCapstoneOnWineDlls) {
  Capstone capstone;
  Tally tally;
  unsigned images = 0;
  for (const char* name : kCorpus) {
    qxtest::PeImage image;
    std::string error;
    if (!image.Load(std::string(kWineDir) + name, error)) {
      ADD_FAILURE() << error;
      continue;
    }
    ++images;
    qxtest::ImageMemory memory;
    memory.AddImage(&image);
    for (const qxtest::PeExport& e : image.exports()) {
      for (const qxtest::PeSection& section : image.sections()) {
        if (section.isCode && e.address >= section.address &&
            e.address < section.address + section.size) {
          CompareFunction(image, memory, e.address, section.address + section.size, capstone,
                          tally);
        }
      }
    }
  }
  EXPECT_GE(images, 20u);
  std::cout << "compared " << tally.instructions << " instructions of " << images
            << " DLLs; deliberate differences: " << tally.deliberate << "\n";
  for (const auto& [reason, count] : tally.reasons) {
    std::cout << "  " << count << " x " << reason << "\n";
  }
  std::map<std::string, int> shown;
  for (const std::string& failure : tally.failures) {
    std::string key = failure.substr(failure.find("ours:"), 40);
    if (++shown[failure.substr(failure.find(" | bytes") + 8, 6)] <= 1) {
      ADD_FAILURE() << failure;
    }
  }
  EXPECT_TRUE(tally.failures.empty()) << tally.failures.size() << " disagreements";
}

}  // namespace

namespace {

// Every exported function of the corpus goes through the analysis and the listing without
// fault; most of them parse as valid functions.
TEST(Differential, ParseFunctionOverEveryExport) {
  uint64_t functions = 0, valid = 0, areas = 0, caseTables = 0, listed = 0;
  for (const char* name : kCorpus) {
    qxtest::PeImage image;
    std::string error;
    if (!image.Load(std::string(kWineDir) + name, error)) continue;
    qxtest::ImageMemory memory;
    memory.AddImage(&image);
    for (const qxtest::PeExport& e : image.exports()) {
      bool inCode = false;
      for (const qxtest::PeSection& section : image.sections()) {
        inCode |= section.isCode && e.address >= section.address &&
                  e.address < section.address + section.size;
      }
      if (!inCode) continue;
      ++functions;
      qx::TFunctionInfo info = qx::ParseFunction(memory, e.address);
      if (!info.isValid) {
        std::cout << "  not valid: " << name << " " << e.name << " at " << std::hex
                  << info.lastErrorAddr << std::dec << "\n";
        continue;
      }
      ++valid;
      areas += info.codeAreas.size();
      for (const qx::TCodeArea& area : info.codeAreas) caseTables += area.isCaseTable;
      if (functions % 16 == 0) {
        std::string text = qx::DisassembleFunction(memory, e.address, e.address + 8, true, 5);
        EXPECT_FALSE(text.empty()) << name << " " << e.name;
        EXPECT_EQ(text.find(qx::kListingInternalError), std::string::npos) << e.name;
        ++listed;
      }
    }
  }
  std::cout << functions << " exported functions, " << valid << " valid, " << areas
            << " code areas, " << caseTables << " case tables, " << listed << " listed\n";
  EXPECT_GT(functions, 10000u);
  EXPECT_GT(valid * 100, functions * 95);
}

}  // namespace
