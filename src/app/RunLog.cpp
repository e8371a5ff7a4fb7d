#include "app/RunLog.h"

#include <fcntl.h>
#include <unistd.h>

#include "app/SiteManifest.h"
#include "app/ULiveconst.h"
#include "app/UpdateList.h"
#include "platform/Files.h"

namespace app {
namespace {

constexpr std::int64_t kRotateAtBytes = 1 << 20;

// A line is one line whatever the texts in it hold.
std::string OneLine(std::string text) {
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

}  // namespace

TclRunLog::TclRunLog(std::string appFolder, std::string version)
    : appFolder_(std::move(appFolder)), version_(std::move(version)) {}

std::string TclRunLog::FileOf(const std::string& appFolder) {
  return StagingFile(appFolder, kLogFileName);
}

std::string TclRunLog::Line(const std::string& text,
                            std::chrono::system_clock::time_point time) const {
  return OneLine(FormatUtcTimestamp(time) + " version=" + version_ + " " + text);
}

void TclRunLog::Append(const std::string& text) {
  const std::string line = Line(text, std::chrono::system_clock::now());
  if (reporter_) reporter_(line);
  const std::string file = FileOf(appFolder_);
  platform::ForceDirectories(StagingFolder(appFolder_));
  if (platform::FileSize(file) > kRotateAtBytes)
    ::rename(file.c_str(), StagingFile(appFolder_, kOldLogFileName).c_str());
  const int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return;
  const std::string data = line + "\n";
  (void)!::write(fd, data.data(), data.size());
  ::close(fd);
}

}  // namespace app
