// Our decoder against capstone over the exported functions of Wine's i386 DLLs: length,
// validity, call/jump kind, relative target and mnemonic must agree, except for the
// deliberate differences listed below, each with its reason.
#include <capstone/capstone.h>
#include <gtest/gtest.h>

#include <cstring>
#include <cctype>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "decoder.h"
#include "function_analysis.h"
#include "mapped_pe_file.h"
#include "text_lines.h"

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
    {"fcmovnb", "fcmovnb"}, {"pushfw", "pushf"}, {"popfw", "popf"},
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

namespace {

// Random bytes (with prefixes and two-byte escapes mixed in) where both decoders accept an
// instruction: length and mnemonic must agree, except for the reviewed differences below.
// Validity itself is not compared here: our validity rules are deliberately coarser than a
// processor's (a lock prefix, C6h/C7h with reg 1-7, 8Fh with reg 1-7, F6h/F7h with reg 1,
// register forms of memory-only SSE moves) and the three-byte, VEX and system opcodes lie
// outside the covered instruction sets.
std::string DeliberateOnRandom(const std::string& ours, const std::string& theirs,
                               uint16_t opcode) {
  auto spelled = kSpelling.find(ours);
  if (spelled != kSpelling.end() && spelled->second == theirs) return "spelling";
  if (opcode == 0xCC && theirs == "int3") return "int 3 spelling";
  // Far calls and jumps: capstone prefixes them with "l".
  if (theirs == "l" + ours) return "far branch spelling";
  // The undocumented x87 aliases keep their own names (fxch4, fcom2, fstp1, ...).
  if (ours.size() > 1 && ours[0] == 'f' && std::isdigit(static_cast<unsigned char>(ours.back())) &&
      theirs.compare(0, ours.size() - 1, ours, 0, ours.size() - 1) == 0) {
    return "undocumented x87 alias";
  }
  if ((ours == "fneni" && theirs == "feni8087_nop") || (ours == "fndisi" && theirs == "fdisi8087_nop")) {
    return "8087 no-operation spelling";
  }
  // Transactional-memory hints (F2h/F3h before a locked xchg) are prefixes we do not name.
  if (theirs == "xacquire" || theirs == "xrelease") return "TSX hint";
  // Later extensions reuse encodings our tables give their older meaning: TSX on C6h/C7h,
  // VMX and XSAVES on 0F C7h, BMI's tzcnt/lzcnt on F3h 0F BCh/BDh, SSE4a's movntsd, and
  // clflushopt on 66h 0F AEh /7.
  static const std::set<std::string> kLater = {"xabort", "xbegin", "vmptrld", "vmptrst",
                                               "vmclear", "vmxon", "xsaves", "xsavec",
                                               "xrstors", "tzcnt", "lzcnt", "movntsd",
                                               "movntss", "clflushopt", "rdrand", "rdseed"};
  if (kLater.count(theirs)) return "later extension on an older encoding";
  // The comparison predicates of cmpps/cmpss/vcmppd/... are printed as pseudo-mnemonics by
  // capstone.
  if (ours.size() >= 6 && ours.compare(0, 5, "vpcmp") == 0 && theirs.size() > ours.size() &&
      theirs.compare(0, 5, "vpcmp") == 0 &&
      theirs.compare(theirs.size() - (ours.size() - 5), ours.size() - 5, ours, 5,
                     ours.size() - 5) == 0) {
    return "comparison predicate pseudo-mnemonic";
  }
  const size_t v = ours.compare(0, 4, "vcmp") == 0 ? 1 : 0;
  if (ours.compare(v, 3, "cmp") == 0 && theirs.compare(v, 3, "cmp") == 0 &&
      ours.size() == 5 + v && theirs.size() > 5 + v &&
      theirs.compare(theirs.size() - 2, 2, ours, 3 + v, 2) == 0) {
    return "comparison predicate pseudo-mnemonic";
  }
  return {};
}

TEST(Differential, RandomBytesWhereBothDecode) {
  std::mt19937 random(20261208);
  std::vector<uint8_t> bytes(1 << 19);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  static const uint8_t kPrefixes[] = {0x66, 0xF2, 0xF3, 0x0F, 0x0F, 0x0F, 0x64, 0xF0, 0x67};
  for (size_t i = 0; i + 1 < bytes.size(); i += 8) {
    if (random() % 2) bytes[i] = kPrefixes[random() % std::size(kPrefixes)];
  }
  constexpr uint32_t kBase = 0x10000000;
  qxtest::ImageMemory memory;
  memory.AddBlock(kBase, bytes);
  Capstone capstone;
  uint64_t both = 0, deliberate = 0;
  std::map<std::string, uint64_t> reasons;
  std::map<std::string, std::string> failures;
  for (uint32_t offset = 0; offset + 16 < bytes.size(); ++offset) {
    std::string text;
    qx::TInstrInfo info = qx::DecodeInstructionText(memory, kBase + offset, text);
    if (!info.isValid) continue;
    Theirs theirs = capstone.Decode(bytes.data() + offset, 16, kBase + offset);
    if (!theirs.valid) continue;
    ++both;
    std::string ours = Mnemonic(text);
    const uint32_t length = info.next - info.start;
    if (length == theirs.length && ours == theirs.mnemonic) continue;
    std::string reason = length == theirs.length ? DeliberateOnRandom(ours, theirs.mnemonic,
                                                                      info.opcode)
                                                 : std::string();
    // capstone drops a 66h, F2h or F3h prefix that another prefix follows ("66 f3 ab" is
    // rep stosw, not rep stosd; "f3 65 90" is pause).
    static const std::set<uint8_t> kAnyPrefix = {0x26, 0x2E, 0x36, 0x3E, 0x64, 0x65,
                                                 0x66, 0x67, 0xF0, 0xF2, 0xF3};
    if (reason.empty() && length == theirs.length &&
        (bytes[offset] == 0x66 || bytes[offset] == 0xF2 || bytes[offset] == 0xF3) &&
        kAnyPrefix.count(bytes[offset + 1])) {
      reason = "capstone drops a prefix that another prefix follows";
    }
    // The mnemonic choices look at 66h, F2h and F3h only: jecxz keeps its name under 67h.
    if (reason.empty() && ours == "jecxz" && theirs.mnemonic == "jcxz") {
      reason = "jcxz under 67h";
    }
    if (!reason.empty()) {
      ++deliberate;
      ++reasons[reason];
      continue;
    }
    char key[16];
    snprintf(key, sizeof key, "%04x", info.opcode);
    if (!failures.count(key)) {
      std::ostringstream line;
      line << "ours: " << text.substr(0, text.find('\r')) << " (" << length
           << ") | capstone: " << theirs.text << " (" << theirs.length << ") | bytes";
      for (unsigned k = 0; k < 8; ++k) {
        snprintf(key + 4, 8, " %02x", bytes[offset + k]);
        line << (key + 4);
      }
      key[4] = 0;
      failures[key] = line.str();
    }
  }
  std::cout << both << " offsets where both decode; deliberate differences: " << deliberate
            << "\n";
  for (const auto& [reason, count] : reasons) std::cout << "  " << count << " x " << reason << "\n";
  EXPECT_GT(both, 200000u);
  for (const auto& [opcode, line] : failures) ADD_FAILURE() << line;
}

}  // namespace

namespace {

std::string ListingOf(const char* dll, const char* function, uint32_t markOffset, bool formatted,
                      int limit) {
  qxtest::PeImage image;
  std::string error;
  if (!image.Load(std::string(kWineDir) + dll, error)) return error;
  qxtest::ImageMemory memory;
  memory.AddImage(&image);
  for (const qxtest::PeExport& e : image.exports()) {
    if (e.name == function) {
      return qx::DisassembleFunction(memory, e.address, e.address + markOffset, formatted, limit);
    }
  }
  return "no export " + std::string(function);
}

// Listings of known functions of the corpus, checked by eye against objdump once.
TEST(KnownListings, WholeAndLimited) {
  EXPECT_EQ(ListingOf("kernel32.dll", "GetCurrentProcessId", 6, false, 0),
            "7b629760 public GetCurrentProcessId:      ; function entry point\r\n"
            "7b629760   mov     eax, fs:[$18]\r\n"
            "7b629766 > mov     eax, [eax+$20]\r\n"
            "7b629769   ret");
  EXPECT_EQ(ListingOf("msvcrt.dll", "strlen", 0x10, false, 5),
            "[...]\r\n"
            "656d8fd3   mov     edx, [ebp+8]\r\n"
            "656d8fd6   cmp     byte ptr [edx], 0\r\n"
            "656d8fd9   jz      loc_656d8ff0\r\n"
            "656d8fdb   mov     eax, edx\r\n"
            "656d8fdd   lea     esi, [esi]\r\n"
            "656d8fe0 > add     eax, 1\r\n"
            "656d8fe3   cmp     byte ptr [eax], 0\r\n"
            "656d8fe6   jnz     loc_656d8fe0\r\n"
            "656d8fe8   sub     eax, edx\r\n"
            "656d8fea   pop     ebp\r\n"
            "656d8feb   ret\r\n"
            "[...]");
  EXPECT_EQ(ListingOf("msvcrt.dll", "strlen", 0x20, true, 0),
            "656d8fd0 public strlen:                   ; function entry point\r\n"
            "656d8fd0   push    ebp\r\n"
            "656d8fd1   mov     ebp, esp\r\n"
            "656d8fd3   mov     edx, [ebp+8]\r\n"
            "656d8fd6   cmp     byte ptr [edx], 0\r\n"
            "656d8fd9   jz      loc_656d8ff0\r\n"
            "656d8fdb\r\n"
            "656d8fdb   mov     eax, edx\r\n"
            "656d8fdd   lea     esi, [esi]\r\n"
            "656d8fe0\r\n"
            "656d8fe0 loc_656d8fe0:\r\n"
            "656d8fe0   add     eax, 1\r\n"
            "656d8fe3   cmp     byte ptr [eax], 0\r\n"
            "656d8fe6   jnz     loc_656d8fe0\r\n"
            "656d8fe8\r\n"
            "656d8fe8   sub     eax, edx\r\n"
            "656d8fea   pop     ebp\r\n"
            "656d8feb   ret\r\n"
            "656d8fec\r\n"
            "656d8fec ; ---------------------------------------------------------\r\n"
            "656d8fec\r\n"
            "656d8ff0 loc_656d8ff0:\r\n"
            "656d8ff0 > xor     eax, eax\r\n"
            "656d8ff2   pop     ebp\r\n"
            "656d8ff3   ret");
}

}  // namespace

namespace {

// Kernels compiled for SSE4.2, AVX2 with FMA and BMI, and AVX-512 (see CMakeLists.txt).
bool LoadKernels(qxtest::PeImage& image) {
  std::string error;
  if (image.Load(QX_KERNELS_DLL, error)) return true;
  ADD_FAILURE() << "the compiled kernels are missing: " << error;
  return false;
}

const qxtest::PeSection* CodeSection(const qxtest::PeImage& image) {
  for (const qxtest::PeSection& section : image.sections()) {
    if (section.isCode) return &section;
  }
  return nullptr;
}

// Which encoding an instruction uses, for the tally: VEX, EVEX, the three-byte maps, or the
// older ones.
const char* EncodingOf(const uint8_t* bytes, size_t length) {
  size_t i = 0;
  while (i < length && (bytes[i] == 0x66 || bytes[i] == 0xF2 || bytes[i] == 0xF3)) ++i;
  if (i + 1 >= length) return "older maps";
  if ((bytes[i] == 0xC4 || bytes[i] == 0xC5) && (bytes[i + 1] & 0xC0) == 0xC0) return "VEX";
  if (bytes[i] == 0x62 && (bytes[i + 1] & 0xC0) == 0xC0) return "EVEX";
  if (bytes[i] == 0x0F && (bytes[i + 1] == 0x38 || bytes[i + 1] == 0x3A)) return "0F 38/0F 3A";
  return "older maps";
}

// objdump's reading of a file: address -> mnemonic and length. The third opinion where
// capstone is known wrong.
std::map<uint32_t, std::pair<std::string, uint32_t>> ObjdumpOf(const std::string& path) {
  std::map<uint32_t, std::pair<std::string, uint32_t>> result;
  std::string command = "objdump -d -M intel --no-show-raw-insn '" + path + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return result;
  char line[512];
  uint32_t last = 0;
  while (fgets(line, sizeof line, pipe)) {
    unsigned address = 0;
    int used = 0;
    if (sscanf(line, " %x:%n", &address, &used) != 1 || line[used] != '\t') continue;
    std::string mnemonic = LastWord(line + used + 1);
    if (mnemonic.empty()) continue;
    if (last) result[last].second = address - last;
    result[address] = {mnemonic, 0};
    last = address;
  }
  pclose(pipe);
  return result;
}

// capstone 4 reads these AVX-512 forms wrongly: the W1 moves as their W0 twins, vpternlogd
// and vextracti64x4 as invalid. Each counts as agreed only where objdump reads the same
// instruction as we do.
const std::set<std::string> kCapstoneWrong = {"vmovdqu64", "vpternlogd", "vextracti64x4"};

// Both decoders sweep every byte of the kernels' code linearly: validity, length and mnemonic
// must agree on every instruction, apart from the reviewed spellings.
TEST(Differential, AgreesWithCapstoneOnCompiledKernels) {
  qxtest::PeImage image;
  if (!LoadKernels(image)) return;
  const qxtest::PeSection* code = CodeSection(image);
  ASSERT_NE(code, nullptr);
  qxtest::ImageMemory memory;
  memory.AddImage(&image);
  Capstone capstone;
  const auto objdump = ObjdumpOf(image.path());
  EXPECT_FALSE(objdump.empty()) << "objdump gives no third opinion";
  std::map<std::string, uint64_t> encodings, reasons;
  std::vector<std::string> failures;
  const uint32_t end = code->address + code->size;
  for (uint32_t address = code->address; address < end;) {
    Ours ours;
    ours.info = qx::DecodeInstructionText(memory, address, ours.text);
    ours.mnemonic = Mnemonic(ours.text);
    const uint8_t* bytes = image.bytes() + (address - image.base());
    Theirs theirs = capstone.Decode(bytes, std::min<uint32_t>(16, end - address), address);
    const qx::TInstrInfo& i = ours.info;
    const uint32_t length = i.next - i.start;
    if (length > end - address) break;  // the last bytes, which capstone is not given
    bool same = !!i.isValid == theirs.valid &&
                (!theirs.valid || (length == theirs.length && ours.mnemonic == theirs.mnemonic));
    std::string reason;
    if (!same && i.isValid && theirs.valid && length == theirs.length) {
      reason = Deliberate(bytes, ours, theirs);
      if (reason.empty()) reason = DeliberateOnRandom(ours.mnemonic, theirs.mnemonic, i.opcode);
    }
    auto third = objdump.find(address);
    if (!same && reason.empty() && i.isValid && kCapstoneWrong.count(ours.mnemonic) &&
        third != objdump.end() && third->second.first == ours.mnemonic &&
        third->second.second == length) {
      reason = "capstone wrong, objdump agrees: " + ours.mnemonic;
      theirs.length = length;
      theirs.valid = true;
    }
    if (!same && reason.empty()) {
      std::ostringstream line;
      line << "ours: " << ours.text.substr(0, ours.text.find('\r')) << " (" << length
           << ") | capstone: " << (theirs.valid ? theirs.text : "(invalid)") << " ("
           << theirs.length << ")";
      failures.push_back(line.str());
    } else if (!reason.empty()) {
      ++reasons[reason];
    }
    if (theirs.valid) ++encodings[EncodingOf(bytes, theirs.length)];
    address += theirs.valid ? theirs.length : 1;
  }
  std::cout << "kernels: ";
  for (const auto& [name, count] : encodings) std::cout << count << " " << name << "; ";
  std::cout << failures.size() << " disagreements\n";
  for (const auto& [reason, count] : reasons) std::cout << "  " << count << " x " << reason << "\n";
  EXPECT_GT(encodings["VEX"], 100u);
  EXPECT_GT(encodings["EVEX"], 30u);
  EXPECT_GT(encodings["0F 38/0F 3A"], 10u);
  for (size_t k = 0; k < failures.size() && k < 40; ++k) ADD_FAILURE() << failures[k];
  EXPECT_TRUE(failures.empty()) << failures.size() << " disagreements";
}

// Every exported kernel parses as a function, and its listing holds no invalid bytes.
TEST(CompiledKernels, EveryFunctionParsesAndLists) {
  qxtest::PeImage image;
  if (!LoadKernels(image)) return;
  qxtest::ImageMemory memory;
  memory.AddImage(&image);
  unsigned functions = 0;
  for (const qxtest::PeExport& e : image.exports()) {
    ++functions;
    qx::TFunctionInfo info = qx::ParseFunction(memory, e.address);
    EXPECT_TRUE(info.isValid) << e.name << " fails at " << std::hex << info.lastErrorAddr;
    std::string listing = qx::DisassembleFunction(memory, e.address, e.address, false, 0);
    EXPECT_EQ(listing.find(" db $"), std::string::npos) << e.name << "\n" << listing;
    EXPECT_EQ(listing.find(qx::kListingInternalError), std::string::npos) << e.name;
  }
  EXPECT_GE(functions, 40u);
}

// The listing of an AVX2 function walks the instruction boundaries capstone finds, from the
// entry to the ret.
TEST(CompiledKernels, Avx2ListingStaysOnBoundaries) {
  qxtest::PeImage image;
  if (!LoadKernels(image)) return;
  qxtest::ImageMemory memory;
  memory.AddImage(&image);
  const qxtest::PeSection* code = CodeSection(image);
  ASSERT_NE(code, nullptr);
  uint32_t entry = 0;
  for (const qxtest::PeExport& e : image.exports()) {
    if (e.name == "GatherSum") entry = e.address;
  }
  ASSERT_NE(entry, 0u);
  Capstone capstone;
  std::set<uint32_t> boundaries;
  uint32_t address = entry;
  for (;;) {
    const uint32_t end = code->address + code->size;
    ASSERT_LT(address, end);
    Theirs theirs = capstone.Decode(image.bytes() + (address - image.base()),
                                    std::min<uint32_t>(16, end - address), address);
    ASSERT_TRUE(theirs.valid) << std::hex << address;
    boundaries.insert(address);
    address += theirs.length;
    if (theirs.mnemonic == "ret") break;
  }
  std::string listing = qx::DisassembleFunction(memory, entry, entry, false, 0);
  std::set<uint32_t> listed;
  for (const std::string& line : qx::Lines(listing)) {
    if (line.size() < 12 || (line.compare(8, 3, "   ") != 0 && line.compare(8, 3, " > ") != 0)) {
      continue;  // labels and separators
    }
    uint32_t at = static_cast<uint32_t>(std::stoul(line.substr(0, 8), nullptr, 16));
    EXPECT_TRUE(boundaries.count(at) || at >= address) << "off the boundaries: " << line;
    listed.insert(at);
  }
  for (uint32_t at : boundaries) EXPECT_TRUE(listed.count(at)) << "not listed: " << std::hex << at;
  EXPECT_NE(listing.find("vgatherdps"), std::string::npos) << listing;
}

}  // namespace
