// The built-in settings that settings objects of the main settings' module fall back to.
#pragma once

#include "property_list.h"

namespace qx {

constexpr int32_t kDefaultSettingsCount = 121;
extern const TSettingsProperty DefaultSettings[kDefaultSettingsCount];

// The first default named exactly `name`, or null.
const TSettingsProperty* FindDefaultSetting(const char* name);

}  // namespace qx
