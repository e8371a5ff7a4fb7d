// The served application's settings file: AppFolder + "sms.ini", section
// "tarvo", shared with the main application. Every call opens and closes the
// file itself; nothing is cached, so a value the main application writes in
// between is seen by the next read.
//
// Stateless functions, callable from any thread (the platform serialises
// writers of one file).
#pragma once

#include <string>
#include <string_view>

namespace app {

// The settings file of an application folder (which ends in a separator).
std::string SettingsFile(const std::string& appFolder);

// Key's value in section "tarvo", or Default when the file, the section or the
// key is missing.
std::string ReadSetting(const std::string& appFolder, std::string_view key,
                        std::string_view defaultValue);
// Writes Key=Value into section "tarvo", creating the file and the section
// when needed. A failure is not reported: the updater goes on either way.
void WriteSetting(const std::string& appFolder, std::string_view key, std::string_view value);

}  // namespace app
