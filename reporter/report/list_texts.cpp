#include "list_texts.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace qx {

namespace {

std::string Hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "%0*x", digits, static_cast<unsigned>(value));
  return text;
}

std::string Padded(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

}  // namespace

bool LessIgnoringCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

void SplitPathAtLastBackslash(const std::string& path, std::string& directory,
                              std::string& fileName) {
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos) {
    directory.clear();
    fileName = path;
  } else {
    directory = path.substr(0, slash);
    fileName = path.substr(slash + 1);
  }
}

std::string ModuleListLayout(const std::vector<ModuleEntry>& modules) {
  size_t nameWidth = 0, versionWidth = 0;
  for (const auto& m : modules) {
    nameWidth = std::max(nameWidth, m.fileName.size());
    versionWidth = std::max(versionWidth, m.version.size());
  }
  ++nameWidth;
  ++versionWidth;
  std::string text;
  for (size_t i = 0; i < modules.size(); ++i) {
    if (i > 0) text += "\r\n";
    const ModuleEntry& m = modules[i];
    text += Hex(m.base, 8) + " " + Padded(m.fileName, nameWidth) + Padded(m.version, versionWidth) +
            m.directory;
  }
  return text;
}

std::string PriorityClassText(int32_t priorityClass) {
  switch (priorityClass) {
    case 32: return "normal";
    case 64: return "idle";
    case 128: return "high";
    case 256: return "realtime";
    case 16384: return "below normal";
    case 32768: return "above normal";
    case 0:
    case -1: return {};
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "$%x", static_cast<unsigned>(priorityClass));
      return text;
    }
  }
}

std::string ProcessListLayout(const std::vector<ProcessEntry>& processes) {
  size_t idWidth = 0, nameWidth = 0, logonWidth = 0, gdiWidth = 0, userWidth = 0,
         priorityWidth = 0;
  for (const auto& p : processes) {
    char id[16];
    std::snprintf(id, sizeof id, "$%x", static_cast<unsigned>(p.processId));
    idWidth = std::max(idWidth, std::string(id).size());
    nameWidth = std::max(nameWidth, p.fileName.size());
    if (p.logon != 0) logonWidth = std::max(logonWidth, std::to_string(p.logon).size());
    gdiWidth = std::max(gdiWidth, std::to_string(p.gdiObjects).size());
    userWidth = std::max(userWidth, std::to_string(p.userObjects).size());
    priorityWidth = std::max(priorityWidth, PriorityClassText(p.priorityClass).size());
  }
  std::string text;
  for (size_t i = 0; i < processes.size(); ++i) {
    if (i > 0) text += "\r\n";
    const ProcessEntry& p = processes[i];
    text += Hex(p.processId, static_cast<int>(idWidth - 1)) + " " + Padded(p.fileName, nameWidth + 1);
    if (logonWidth != 0) text += Padded(std::to_string(p.logon), logonWidth + 1);
    text += Padded(std::to_string(p.gdiObjects), gdiWidth + 1);
    text += Padded(std::to_string(p.userObjects), userWidth + 1);
    text += Padded(PriorityClassText(p.priorityClass), priorityWidth + 1);
    text += p.directory;
  }
  return text;
}

void HardwareStore::Insert(const std::string& classText, const std::string& deviceText,
                           const std::string& driverPath) {
  auto cls = std::find_if(classes_.begin(), classes_.end(), [&](const DeviceClass& c) {
    return !LessIgnoringCase(c.text, classText);
  });
  if (cls == classes_.end() || cls->text != classText)
    cls = classes_.insert(cls, DeviceClass{classText, {}});
  auto& devices = cls->devices;
  auto device = std::find_if(devices.begin(), devices.end(), [&](const Device& d) {
    return !LessIgnoringCase(d.text, deviceText);
  });
  devices.insert(device, Device{deviceText, driverPath});
}

std::string HardwareStore::Text(
    const std::function<std::string(const Device&)>& driverSuffix) const {
  std::string text;
  for (const auto& cls : classes_) {
    if (!text.empty()) text += "\r\n";
    text += "+ " + cls.text;
    for (const auto& device : cls.devices) {
      text += "\r\n  - " + device.text;
      if (driverSuffix) text += driverSuffix(device);
    }
  }
  return text;
}

}  // namespace qx
