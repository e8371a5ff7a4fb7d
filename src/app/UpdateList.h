// The update list as the run reads it, and the local paths derived from it.
//
// The list is an INI file; the section named on the command line holds keys
// file1, file2, ... read in that order up to file10000 and up to the first key
// that is missing or empty (keys after a gap are never read). Other sections
// serve other installations and are ignored.
//
// Pure functions except TakeWorkList, which reads and deletes the list file.
// Callable from any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/IniFile.h"

namespace app {

// The entry values of Section, in key order.
std::vector<std::string> ReadWorkList(const platform::IniDocument& list, std::string_view section);
std::vector<std::string> ReadWorkList(std::string_view listText, std::string_view section);
// Reads the local list file, then deletes it whether or not it held entries. A
// missing or unreadable file gives an empty work list.
std::vector<std::string> TakeWorkList(const std::string& listFile, std::string_view section);

// AppFolder + "liveupdate" (no trailing separator): the staging folder, which
// mirrors the application folder's layout.
std::string StagingFolder(const std::string& appFolder);
// Where the update list is downloaded to: the staging folder's "tmp.ini".
std::string LocalListFile(const std::string& appFolder);
// Where the file of an entry with Path is downloaded to.
std::string StagingPath(const std::string& appFolder, std::string_view path);
// Where it is installed (every kind but the updater's own replacement).
std::string InstallTarget(const std::string& appFolder, std::string_view path);
// A file of the staging folder that is the updater's own: its list, manifest
// and signature as fetched, its log, the installation's journal, lock and
// work folder. An entry whose staging path would be one of them is dropped
// like an invalid entry, so that no list can overwrite them.
std::string StagingFile(const std::string& appFolder, std::string_view name);
bool IsReservedStagingPath(std::string_view path);

}  // namespace app
