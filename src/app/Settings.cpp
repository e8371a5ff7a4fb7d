#include "app/Settings.h"

#include "app/ULiveconst.h"
#include "platform/IniFile.h"

namespace app {

std::string SettingsFile(const std::string& appFolder) {
  return appFolder + std::string(kSettingsFileName);
}

std::string ReadSetting(const std::string& appFolder, std::string_view key,
                        std::string_view defaultValue) {
  return platform::GetPrivateProfileString(kSettingsSection, key, defaultValue,
                                           SettingsFile(appFolder));
}

void WriteSetting(const std::string& appFolder, std::string_view key, std::string_view value) {
  platform::WritePrivateProfileString(kSettingsSection, key, value, SettingsFile(appFolder));
}

}  // namespace app
