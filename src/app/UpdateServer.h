// Where the update is fetched from: the server's base URL (scheme, host,
// optional port, no trailing '/') and the two paths below it.
//
// Stateless functions, callable from any thread.
#pragma once

#include <string>
#include <string_view>

namespace app {

// $LIVEUPDATE_SERVER when set and not empty, else the base URL chosen when the
// program was built. A trailing '/' is dropped so that the paths join cleanly.
std::string UpdateServerBaseUrl();
// The base URL chosen when the program was built.
std::string DefaultUpdateServer();

// The update list's address below Base.
std::string UpdateListUrl(std::string_view base);
// A file's address below Base: Path is appended as written in the list
// (forward slashes kept, nothing escaped).
std::string UpdateFileUrl(std::string_view base, std::string_view path);

}  // namespace app
