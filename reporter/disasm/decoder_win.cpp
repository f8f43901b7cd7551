#include "decoder_win.h"

#include "pe_image.h"

namespace qx {
namespace {

// Write-copy pages are readable too: image sections with write access keep that protection
// until their first write (under Wine, the import slots of the system DLLs).
constexpr DWORD kReadableProtections[] = {PAGE_READONLY,     PAGE_READWRITE,
                                          PAGE_EXECUTE,      PAGE_EXECUTE_READ,
                                          PAGE_EXECUTE_READWRITE, PAGE_WRITECOPY,
                                          PAGE_EXECUTE_WRITECOPY};

bool IsReadableRegion(const MEMORY_BASIC_INFORMATION& info) {
  if (info.State != MEM_COMMIT) return false;
  const DWORD protection = info.Protect & ~static_cast<DWORD>(PAGE_NOCACHE | PAGE_WRITECOMBINE);
  for (DWORD readable : kReadableProtections) {
    if (protection == readable) return true;
  }
  return false;
}

uint32_t AddressOf(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
void* PointerOf(uint32_t a) { return reinterpret_cast<void*>(static_cast<uintptr_t>(a)); }

HMODULE OwnModule() {
  static HMODULE own = [] {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                           GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
  }();
  return own;
}

// The image of the module holding this code: it stays mapped while this code runs, and
// nothing takes read access away from it. Every other module may be unloaded or
// re-protected by another thread at any moment.
struct OwnImage {
  uint32_t begin = 0;
  uint32_t end = 0;
};

OwnImage FindOwnImage() {
  OwnImage image;
  const auto base = AddressOf(OwnModule());
  MEMORY_BASIC_INFORMATION info;
  // One region from the image base: the headers; the sections follow. Only what is
  // readable from the base on, without a gap, counts.
  uint32_t at = base;
  while (base != 0 && VirtualQuery(PointerOf(at), &info, sizeof info) == sizeof info &&
         AddressOf(info.AllocationBase) == base && info.Type == MEM_IMAGE &&
         IsReadableRegion(info)) {
    at = AddressOf(info.BaseAddress) + static_cast<uint32_t>(info.RegionSize);
    if (at <= AddressOf(info.BaseAddress)) break;
  }
  if (at > base) image = OwnImage{base, at};
  return image;
}

class ProcessCodeMemory final : public CodeMemory {
 public:
  bool Read(uint32_t address, void* destination, uint32_t count) override {
    if (address == 0 || count == 0) return address != 0;
    if (address + count < address) return false;
    // The own image is copied directly; every other address goes through the checked read,
    // asked again each time, as a module analysed a moment ago may be gone now.
    static const OwnImage own = FindOwnImage();
    if (address >= own.begin && address + count <= own.end) {
      memcpy(destination, PointerOf(address), count);
      return true;
    }
    return SafeRead(PointerOf(address), destination, count);
  }

  bool ModuleAt(uint32_t address, TModuleInfo& module) override {
    HMODULE handle = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(PointerOf(address)), &handle) ||
        !handle) {
      return false;
    }
    const uint32_t base = AddressOf(handle);
    PeImage image(*this, base, PeLayout::kLoaded);
    if (!image.Open()) return false;
    char path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameA(handle, path, sizeof path);
    module.base = base;
    module.size = image.SizeOfImage();
    module.fileName.assign(path, length);
    module.isSelf = handle == OwnModule();
    return true;
  }

  bool QueryRegion(uint32_t address, TMemoryRegion& region) override {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(PointerOf(address), &info, sizeof info) != sizeof info) return false;
    region.base = AddressOf(info.BaseAddress);
    region.size = static_cast<uint32_t>(info.RegionSize);
    region.allocationBase = AddressOf(info.AllocationBase);
    region.committed = info.State == MEM_COMMIT;
    return true;
  }

  std::string ErrorText(uint32_t code) override {
    char buffer[512] = {};
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, sizeof buffer, nullptr);
    std::string text(buffer, length);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
      text.pop_back();
    }
    return text;
  }
};

}  // namespace

#if defined(__i386__)
// The copy behind SafeRead: rep movsb inside an exception frame of its own, whose handler
// turns a fault of the copy (memory freed or re-protected by another thread since the region
// query) into a return of 0. Not the system's process-memory read: Wine serves that through
// the server, which attaches to the process with ptrace for every read; that costs a
// round trip each time and, under load, has held the server (and with it every program of
// the prefix) inside the attach.
extern "C" char QxGuardedCopyRead[], QxGuardedCopyReadEnd[], QxGuardedCopyFailed[];
extern "C" EXCEPTION_DISPOSITION __cdecl QxGuardedCopyHandler(EXCEPTION_RECORD* record, void*,
                                                              CONTEXT* context, void*) {
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
      !InGuardedCopy(record->ExceptionAddress))
    return ExceptionContinueSearch;
  switch (record->ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_IN_PAGE_ERROR:
    case STATUS_GUARD_PAGE_VIOLATION:
      // The frame's registration record is at the stack pointer, as when the copy began.
      context->Eip = AddressOf(QxGuardedCopyFailed);
      return ExceptionContinueExecution;
    default:
      return ExceptionContinueSearch;
  }
}
asm(R"(
  .text
  .globl _QxGuardedCopy
_QxGuardedCopy:
  pushl %ebp
  movl %esp, %ebp
  pushl %esi
  pushl %edi
  pushl $_QxGuardedCopyHandler
  pushl %fs:0
  movl %esp, %fs:0
  movl 8(%ebp), %edi
  movl 12(%ebp), %esi
  movl 16(%ebp), %ecx
  cld
  .globl _QxGuardedCopyRead
_QxGuardedCopyRead:
  rep movsb
  .globl _QxGuardedCopyReadEnd
_QxGuardedCopyReadEnd:
  movl $1, %eax
QxGuardedCopyLeave:
  movl (%esp), %edx
  movl %edx, %fs:0
  addl $8, %esp
  popl %edi
  popl %esi
  popl %ebp
  ret
  .globl _QxGuardedCopyFailed
_QxGuardedCopyFailed:
  xorl %eax, %eax
  jmp QxGuardedCopyLeave
)");

bool InGuardedCopy(const void* address) {
  return address >= static_cast<const void*>(QxGuardedCopyRead) &&
         address < static_cast<const void*>(QxGuardedCopyReadEnd);
}
#else
bool InGuardedCopy(const void*) { return false; }
#endif

bool SafeRead(const void* source, void* destination, uint32_t count, const TDATryRead* map) {
  if (!source) return false;
  if (map && !IsReadable(*map, AddressOf(source))) return false;
  // Only committed pages whose protection allows reading are touched: a guard page would
  // lose its guard (and its thread the growth of its stack) on a read.
  uint64_t at = AddressOf(source);
  const uint64_t end = at + count;
  while (at < end) {
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(PointerOf(static_cast<uint32_t>(at)), &info, sizeof info) != sizeof info ||
        !IsReadableRegion(info)) {
      return false;
    }
    at = static_cast<uint64_t>(AddressOf(info.BaseAddress)) + info.RegionSize;
  }
#if defined(__i386__)
  return QxGuardedCopy(destination, source, count) != 0;
#else
  SIZE_T done = 0;
  return ReadProcessMemory(GetCurrentProcess(), source, destination, count, &done) &&
         done == count;
#endif
}

TDATryRead BuildReadableMap() {
  TDATryRead map;
  uint64_t address = 0;
  MEMORY_BASIC_INFORMATION info;
  while (address < 0x100000000ull &&
         VirtualQuery(PointerOf(static_cast<uint32_t>(address)), &info, sizeof info) ==
             sizeof info) {
    uint64_t begin = AddressOf(info.BaseAddress);
    uint64_t end = begin + info.RegionSize;
    if (end <= address) break;
    AppendReadRange(map, static_cast<uint32_t>(begin),
                    end >= 0x100000000ull ? 0xFFFFFFFFu : static_cast<uint32_t>(end),
                    IsReadableRegion(info));
    address = end;
  }
  return map;
}

CodeMemory& ProcessMemory() {
  static ProcessCodeMemory memory;
  return memory;
}

TInstrInfo DecodeInstruction(const void* code, TRegState* regState, bool resolveRegisters,
                             const TDATryRead* map) {
  return DecodeInstruction(ProcessMemory(), AddressOf(code), regState, resolveRegisters, map);
}

TInstrInfo DecodeInstructionText(const void* code, std::string& text, TRegState* regState,
                                 bool resolveRegisters) {
  return DecodeInstructionText(ProcessMemory(), AddressOf(code), text, regState,
                               resolveRegisters);
}

std::string ExportNameAt(HMODULE module, const void* address, bool unmangle) {
  return ExportNameAt(ProcessMemory(), AddressOf(module), AddressOf(address), unmangle);
}

}  // namespace qx
