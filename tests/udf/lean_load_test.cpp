// What loading QXUdfLib.dll costs a server that only calls the SQL functions: the system
// libraries that only the reporter's windows, dialogs, version and module lists and the
// sending of reports need are delay-loaded, so such a host never maps them.
#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "call_runner.h"
#include "child_process_win.h"
#include "delay_load_win.h"
#include "pe_image.h"
#include "udf_binding.h"

namespace {

const std::set<std::string> kDelayLoaded = {"comctl32.dll", "comdlg32.dll", "crypt32.dll",
                                           "psapi.dll",    "secur32.dll",  "shell32.dll",
                                           "version.dll",  "ws2_32.dll"};

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The file names of the modules mapped in this process now (tool help).
std::set<std::string> MappedModules() {
  std::set<std::string> names;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return names;
  MODULEENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Module32First(snapshot, &entry); more; more = Module32Next(snapshot, &entry))
    names.insert(Lower(entry.szModule));
  CloseHandle(snapshot);
  return names;
}

struct ImportTables {
  std::set<std::string> imported;
  // Delay-imported library -> its routines.
  std::vector<std::pair<std::string, std::vector<std::string>>> delayed;
  bool read = false;
};

// QXUdfLib.dll's import and delay-import tables, read from its file.
ImportTables ReadImportTables(const std::string& bytes) {
  ImportTables tables;
  qx::SpanReader reader(bytes);
  qx::PeImage image(reader, 0, qx::PeLayout::kFile);
  if (!image.Open()) return tables;
  qx::PeDirectory imports, delayed;
  if (!image.Directory(qx::pe::kImportDirectory, imports)) return tables;
  if (!image.Directory(13, delayed)) delayed = qx::PeDirectory{};  // none
  for (uint32_t at = imports.rva;; at += sizeof(IMAGE_IMPORT_DESCRIPTOR)) {
    IMAGE_IMPORT_DESCRIPTOR descriptor;
    if (!image.ReadRvaValue(at, descriptor)) return tables;
    if (descriptor.Name == 0) break;
    std::string name;
    if (!image.ReadString(descriptor.Name, name)) return tables;
    tables.imported.insert(Lower(name));
  }
  // The delay-import descriptor: attributes, then the RVAs of the name, the handle, the
  // address table and the name table, ...
  struct DelayDescriptor {
    uint32_t attributes, name, module, addresses, names, bound, unload, stamp;
  };
  for (uint32_t at = delayed.rva; delayed.rva != 0; at += sizeof(DelayDescriptor)) {
    DelayDescriptor descriptor;
    if (!image.ReadRvaValue(at, descriptor)) return tables;
    if (descriptor.name == 0) break;
    std::string name;
    if (!image.ReadString(descriptor.name, name)) return tables;
    std::vector<std::string> routines;
    for (uint32_t slot = descriptor.names;; slot += 4) {
      uint32_t hintName = 0;
      if (!image.ReadRvaValue(slot, hintName)) return tables;
      if (hintName == 0) break;
      std::string routine;
      if ((hintName & 0x80000000u) != 0 || !image.ReadString(hintName + 2, routine)) return tables;
      routines.push_back(routine);
    }
    tables.delayed.emplace_back(Lower(name), routines);
  }
  tables.read = true;
  return tables;
}

std::string ModuleFileBytes() {
  std::ifstream file(qx::SelfFolder() + "QXUdfLib.dll", std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The eight libraries are delay imports only, each routine of theirs the module calls has a
// stand-in for when the library cannot be had, and the image's delay-import directory says
// so to every tool that reads it.
TEST(LeanLoad, TheWindowAndListLibrariesAreDelayImportsOnly) {
  const std::string bytes = ModuleFileBytes();
  ASSERT_FALSE(bytes.empty());
  ImportTables tables = ReadImportTables(bytes);
  ASSERT_TRUE(tables.read);
  for (const std::string& name : kDelayLoaded)
    EXPECT_EQ(tables.imported.count(name), 0u) << name << " is imported at load";
  EXPECT_EQ(tables.imported.count("ib_util.dll"), 1u);
  EXPECT_EQ(tables.imported.count("kernel32.dll"), 1u);
  std::set<std::string> delayed;
  for (const auto& [library, routines] : tables.delayed) {
    delayed.insert(library);
    EXPECT_FALSE(routines.empty()) << library;
    for (const std::string& routine : routines)
      EXPECT_NE(qx::DelayLoadStandIn(routine.c_str()), nullptr)
          << library << "!" << routine << " has no stand-in";
  }
  EXPECT_EQ(delayed, kDelayLoaded);
}

// A VirtualQuery walk of the whole address space.
struct AddressSpace {
  uint64_t reserved = 0;          // reserved or committed, every kind
  uint64_t privateCommitted = 0;  // committed private memory
  uint64_t imageCommitted = 0;    // committed memory of mapped images
};

AddressSpace MeasureAddressSpace() {
  AddressSpace space;
  MEMORY_BASIC_INFORMATION info;
  for (uintptr_t at = 0x10000;
       VirtualQuery(reinterpret_cast<void*>(at), &info, sizeof info) == sizeof info;) {
    if (info.State != MEM_FREE) space.reserved += info.RegionSize;
    if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE) space.privateCommitted += info.RegionSize;
    if (info.State == MEM_COMMIT && info.Type == MEM_IMAGE) space.imageCommitted += info.RegionSize;
    const uintptr_t next = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize;
    if (next <= at) break;
    at = next;
  }
  return space;
}

const char* const kEverySqlFunction[] = {
    "fn_setbit(5, 2)",
    "fn_clearbit(7, 2)",
    "fn_checkbit(5, 2)",
    "fn_minvalue(3, -1)",
    "fn_maxvalue(-5, -7)",
    "fn_incday(100.25, -101)",
    "fn_factbedragbetaald(1500, 'Y')",
    "fn_BoolStringToInt('YNY')",
    "fn_inttocnk(-42)",
    "fn_formatDouble(0.1)",
    "fn_strReplace('banana','ana','x')",
    "fn_GetBlobValue(blob:'a=1\\r\\nB=2', 'b')",
    "fn_TrimRTF(blob:'{\\\\rtf1\\\\ansi hello}')",
};

// A host that loads the module and calls every SQL function maps none of the eight. The
// other system libraries the module imports at load are mapped first, as a server has
// them: what they import themselves is theirs (Wine's user32 imports version.dll).
TEST(LeanLoad, AHostThatCallsEverySqlFunctionMapsNoneOfThem) {
  ImportTables tables = ReadImportTables(ModuleFileBytes());
  ASSERT_TRUE(tables.read);
  for (const std::string& name : tables.imported)
    if (name != "ib_util.dll" && kDelayLoaded.count(name) == 0) {
      EXPECT_NE(LoadLibraryA(name.c_str()), nullptr) << name;
    }
  const std::set<std::string> before = MappedModules();
  std::string already;
  for (const std::string& name : kDelayLoaded)
    if (before.count(name) != 0) already += " " + name;
  const AddressSpace spaceBefore = MeasureAddressSpace();
  ASSERT_EQ(GetModuleHandleA("QXUdfLib.dll"), nullptr);
  qxhost::UdfLibrary library;
  ASSERT_TRUE(library.Load()) << library.error();
  for (const char* expression : kEverySqlFunction) {
    SCOPED_TRACE(expression);
    qxhost::Call call;
    std::string result, error;
    ASSERT_TRUE(qxhost::ParseCall(expression, call, error)) << error;
    EXPECT_TRUE(qxhost::RunCall(library, call, qxhost::RunOptions{}, result, error)) << error;
  }
  const std::set<std::string> after = MappedModules();
  const AddressSpace spaceAfter = MeasureAddressSpace();
  std::vector<std::string> added;
  std::set_difference(after.begin(), after.end(), before.begin(), before.end(),
                      std::back_inserter(added));
  for (const std::string& name : kDelayLoaded)
    EXPECT_EQ(std::count(added.begin(), added.end(), name), 0) << name << " was mapped";
  EXPECT_NE(std::count(added.begin(), added.end(), "qxudflib.dll"), 0);

  std::string list;
  for (const std::string& name : added) list += " " + name;
  std::printf("modules mapped: %zu before loading, %zu after the calls (added:%s; mapped by the"
              " system libraries before:%s)\n",
              before.size(), after.size(), list.c_str(), already.empty() ? " none" : already.c_str());
  std::printf("address space in use: %llu KB -> %llu KB; private committed %llu KB -> %llu KB;"
              " image committed %llu KB -> %llu KB\n",
              spaceBefore.reserved / 1024, spaceAfter.reserved / 1024,
              spaceBefore.privateCommitted / 1024, spaceAfter.privateCommitted / 1024,
              spaceBefore.imageCommitted / 1024, spaceAfter.imageCommitted / 1024);
  library.Unload();
}

}  // namespace
