// The served application's settings file: AppFolder + "sms.ini", section
// "tarvo", shared with the main application. Every call opens and closes the
// file itself; nothing is cached, so a value the main application writes in
// between is seen by the next read.
//
// Stateless functions, callable from any thread (the platform serialises
// writers of one file).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace app {

// The settings file of an application folder (which ends in a separator).
std::string SettingsFile(const std::string& appFolder);

// Key's value in section "tarvo", or Default when the file, the section or the
// key is missing.
std::string ReadSetting(const std::string& appFolder, std::string_view key,
                        std::string_view defaultValue);
// Key's value, or nothing when the file, the section or the key is missing
// (an installation records whether a key it changes existed).
std::optional<std::string> FindSetting(const std::string& appFolder, std::string_view key);
// Writes Key=Value into section "tarvo", creating the file and the section
// when needed. True when it was written; callers that go on either way may
// ignore it.
bool WriteSetting(const std::string& appFolder, std::string_view key, std::string_view value);
// Removes Key; a missing file, section or key is success.
bool DeleteSetting(const std::string& appFolder, std::string_view key);

}  // namespace app
