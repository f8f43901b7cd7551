// The column layout of the module, process and hardware sections. The platform code
// collects the entries; these routines only arrange them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qx {

struct ModuleEntry {
  uint32_t base = 0;
  std::string fileName;   // after the last backslash
  std::string directory;  // before the last backslash
  std::string version;    // empty when the file has none
};
std::string ModuleListLayout(const std::vector<ModuleEntry>& modules);

struct ProcessEntry {
  std::string fileName;
  std::string directory;
  uint32_t processId = 0;
  uint32_t logon = 0;
  int32_t priorityClass = -1;  // -1: the process could not be opened
  uint32_t gdiObjects = 0;
  uint32_t userObjects = 0;
};
std::string ProcessListLayout(const std::vector<ProcessEntry>& processes);
std::string PriorityClassText(int32_t priorityClass);

// Splits a path at its last backslash into folder and file name (no folder when there is
// no backslash).
void SplitPathAtLastBackslash(const std::string& path, std::string& directory,
                              std::string& fileName);

// Device classes sorted by class text, each with devices sorted by device text (letter case
// ignored; equal device texts are all kept).
class HardwareStore {
 public:
  struct Device {
    std::string text;
    std::string driverPath;
  };
  struct DeviceClass {
    std::string text;
    std::vector<Device> devices;
  };
  void Insert(const std::string& classText, const std::string& deviceText,
              const std::string& driverPath);
  const std::vector<DeviceClass>& Classes() const { return classes_; }
  // "+ class" and "  - device" lines; `driverSuffix` gives the text after a device (empty
  // or " (driver ...)").
  std::string Text(const std::function<std::string(const Device&)>& driverSuffix) const;

 private:
  std::vector<DeviceClass> classes_;
};

// Less-than comparison ignoring letter case, byte-wise.
bool LessIgnoringCase(const std::string& a, const std::string& b);

}  // namespace qx
