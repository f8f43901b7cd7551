// Decoder throughput against capstone on the code sections of Wine's i386 DLLs, then on the
// kernels compiled for SSE4.2, AVX2 and AVX-512: decode only, and decode with the text line,
// both in MB/s of code and instructions per second. Both decoders sweep the same bytes in
// the same run.
#include <capstone/capstone.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "decoder.h"
#include "mapped_pe_file.h"

namespace {

const char* const kWineDir = "/usr/lib/i386-linux-gnu/wine/i386-windows/";
const char* const kCorpus[] = {"ntdll.dll",  "kernelbase.dll", "kernel32.dll", "msvcrt.dll",
                               "user32.dll", "gdi32.dll",      "ole32.dll",    "oleaut32.dll",
                               "shell32.dll", "comctl32.dll",  "rpcrt4.dll",   "wininet.dll",
                               "crypt32.dll", "msvcr120.dll",  "ucrtbase.dll", "d3dx9_43.dll",
                               "msxml3.dll", "jscript.dll",    "msi.dll",      "wined3d.dll"};

struct Section {
  const qxtest::PeImage* image;
  uint32_t begin, end;
};

struct Result {
  double seconds = 0;
  uint64_t bytes = 0, instructions = 0;
};

using Clock = std::chrono::steady_clock;

// The machine is shared: every sweep runs in several short rounds, interleaved with the
// others, and the best round counts.
constexpr int kRounds = 7;
constexpr double kRoundSeconds = 0.3;

template <class Sweep>
void Measure(Result& best, const std::vector<Section>& sections, Sweep sweep) {
  Result result;
  auto start = Clock::now();
  do {
    for (const Section& s : sections) {
      result.instructions += sweep(s);
      result.bytes += s.end - s.begin;
    }
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  } while (result.seconds < kRoundSeconds);
  if (best.seconds == 0 || result.bytes / result.seconds > best.bytes / best.seconds) {
    best = result;
  }
}

void Print(const char* name, const Result& r) {
  if (r.seconds == 0) return;
  std::printf("%-34s %8.1f MB/s %8.2f M instructions/s\n", name, r.bytes / r.seconds / 1e6,
              r.instructions / r.seconds / 1e6);
}

// Sweeps the code sections of the files; only picks one sweep (decode, text, names,
// capstone) for profiling, or all when empty.
int Bench(const std::vector<std::string>& paths, const std::string& only) {
  auto wanted = [&](const char* name) { return only.empty() || only == name; };
  std::vector<qxtest::PeImage> images(paths.size());
  std::vector<Section> sections;
  uint64_t total = 0;
  for (size_t i = 0; i < paths.size(); ++i) {
    std::string error;
    if (!images[i].Load(paths[i], error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
  }
  // Images at overlapping bases cannot share one address space: each sweep uses a memory
  // that holds only the image it reads.
  std::vector<qxtest::ImageMemory> memories(images.size());
  for (size_t i = 0; i < images.size(); ++i) {
    memories[i].AddImage(&images[i]);
    for (const qxtest::PeSection& s : images[i].sections()) {
      if (!s.isCode) continue;
      sections.push_back({&images[i], s.address, s.address + s.size});
      total += s.size;
    }
  }
  auto memoryOf = [&](const Section& s) -> qxtest::ImageMemory& {
    return memories[s.image - images.data()];
  };
  std::printf("corpus: %zu DLLs, %zu code sections, %.3f MB of code\n", images.size(),
              sections.size(), total / 1e6);

  Result ours, oursText, oursNamed, theirs, theirsDetail;
  auto decodeOnly = [&](const Section& s) {
    qxtest::ImageMemory& memory = memoryOf(s);
    uint64_t count = 0;
    for (uint32_t at = s.begin; at < s.end; ++count) {
      qx::TInstrInfo info = qx::DecodeInstruction(memory, at);
      at = info.next > at ? info.next : at + 1;
    }
    return count;
  };
  // The text without module lookups: no names for comments, like capstone.
  std::vector<qxtest::ImageMemory> anonymous(sections.size());
  for (size_t i = 0; i < sections.size(); ++i) {
    const Section& s = sections[i];
    anonymous[i].AddBlock(s.begin,
                          std::vector<uint8_t>(s.image->bytes() + (s.begin - s.image->base()),
                                               s.image->bytes() + (s.end - s.image->base())));
  }
  auto withText = [&](const Section& s) {
    qxtest::ImageMemory& memory = anonymous[&s - sections.data()];
    uint64_t count = 0;
    std::string text;
    for (uint32_t at = s.begin; at < s.end; ++count) {
      qx::TInstrInfo info = qx::DecodeInstructionText(memory, at, text);
      at = info.next > at ? info.next : at + 1;
    }
    return count;
  };
  auto withNames = [&](const Section& s) {
    qxtest::ImageMemory& memory = memoryOf(s);
    uint64_t count = 0;
    std::string text;
    for (uint32_t at = s.begin; at < s.end; ++count) {
      qx::TInstrInfo info = qx::DecodeInstructionText(memory, at, text);
      at = info.next > at ? info.next : at + 1;
    }
    return count;
  };

  csh handle;
  cs_open(CS_ARCH_X86, CS_MODE_32, &handle);
  cs_insn* insn = nullptr;
  auto capstoneSweep = [&](const Section& s) {
    uint64_t count = 0;
    const uint8_t* code = s.image->bytes() + (s.begin - s.image->base());
    size_t size = s.end - s.begin;
    uint64_t address = s.begin;
    while (size > 0) {
      if (cs_disasm_iter(handle, &code, &size, &address, insn)) {
        ++count;
      } else {
        ++code;
        --size;
        ++address;
      }
    }
    return count;
  };
  for (int round = 0; round < kRounds; ++round) {
    if (wanted("decode")) Measure(ours, sections, decodeOnly);
    if (wanted("text")) Measure(oursText, sections, withText);
    if (wanted("names")) Measure(oursNamed, sections, withNames);
    // An instruction buffer holds room for the details only when they are on at allocation.
    if (wanted("capstone")) {
      cs_option(handle, CS_OPT_DETAIL, CS_OPT_OFF);
      insn = cs_malloc(handle);
      Measure(theirs, sections, capstoneSweep);
      cs_free(insn, 1);
      cs_option(handle, CS_OPT_DETAIL, CS_OPT_ON);
      insn = cs_malloc(handle);
      Measure(theirsDetail, sections, capstoneSweep);
      cs_free(insn, 1);
    }
  }
  cs_close(&handle);

  Print("ours: decode only", ours);
  Print("ours: decode + text", oursText);
  Print("ours: decode + text + names", oursNamed);
  Print("capstone: decode + text", theirs);
  Print("capstone: decode + text + detail", theirsDetail);
  auto ratio = [](const char* name, const Result& ours, const Result& theirs) {
    if (ours.seconds == 0 || theirs.seconds == 0) return;
    std::printf("%-34s %8.2fx\n", name,
                (ours.bytes / ours.seconds) / (theirs.bytes / theirs.seconds));
  };
  ratio("decode only vs capstone", ours, theirs);
  ratio("decode + text vs capstone", oursText, theirs);
  ratio("decode + text + names vs capstone", oursNamed, theirs);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string only = argc > 1 ? argv[1] : "";
  std::vector<std::string> wine;
  for (const char* name : kCorpus) wine.push_back(std::string(kWineDir) + name);
  if (Bench(wine, only) != 0) return 1;
  std::printf("\n");
  return Bench({QX_KERNELS_DLL}, only);
}
