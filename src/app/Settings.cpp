#include "app/Settings.h"

#include "app/ULiveconst.h"
#include "platform/Files.h"
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

std::optional<std::string> FindSetting(const std::string& appFolder, std::string_view key) {
  std::string text;
  if (!platform::ReadWholeFile(SettingsFile(appFolder), text)) return std::nullopt;
  return platform::IniDocument::Parse(text).Read(kSettingsSection, key);
}

bool WriteSetting(const std::string& appFolder, std::string_view key, std::string_view value) {
  return platform::WritePrivateProfileString(kSettingsSection, key, value, SettingsFile(appFolder));
}

bool DeleteSetting(const std::string& appFolder, std::string_view key) {
  return platform::DeleteProfileKey(kSettingsSection, key, SettingsFile(appFolder));
}

}  // namespace app
