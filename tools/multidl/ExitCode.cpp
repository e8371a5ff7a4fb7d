#include "ExitCode.h"

#include <array>
#include <string_view>

namespace multidl {

bool AllBytesArrived(const ItemOutcome& item) {
  if (!item.started || item.interrupted || !item.dataPhase) return false;
  if (item.status == psFailed || item.status == psTerminated || item.status == psUnknown)
    return false;
  // A resource without a size is complete when its one open-ended segment ended well.
  return item.resourceSize <= 0 || item.bytesProceed == item.resourceSize;
}

ExitCode ItemExitCode(const ItemOutcome& item) {
  if (item.interrupted) return kExitInterrupted;
  if (item.localFileError) return kExitLocalFile;
  if (item.sizeRefused) return kExitSizeLimit;
  if (!AllBytesArrived(item)) return kExitNetwork;
  if (item.checksumChecked && !item.checksumMatched) return kExitChecksum;
  return kExitOk;
}

ExitCode RunExitCode(const std::vector<ItemOutcome>& items) {
  for (const ItemOutcome& item : items) {
    if (item.interrupted) return kExitInterrupted;
  }
  for (const ItemOutcome& item : items) {
    const ExitCode code = ItemExitCode(item);
    if (code != kExitOk) return code;
  }
  return kExitOk;
}

bool IsLocalFileErrorText(const std::string& text, std::int32_t code) {
  // The file layer reports with code 0; the network and server errors carry
  // the library's or the server's code, except a short read, which is theirs too.
  if (code != 0) return false;
  static constexpr std::array<std::string_view, 7> kPrefixes{
      "Cannot create file", "Cannot open file",  "Cannot set the size", "Stream write error",
      "Stream read error",  "Can't open: ",      "Write data failed"};
  for (std::string_view prefix : kPrefixes) {
    if (std::string_view(text).substr(0, prefix.size()) == prefix) return true;
  }
  return false;
}

std::string ExitCodeHelp() {
  return "Exit status:\n"
         "  0    every download completed with all its bytes (and its checksum, when given)\n"
         "  2    usage error: bad options or arguments, nothing was downloaded\n"
         "  3    network or server failure (refused, timed out, error status, incomplete)\n"
         "  4    local file error (the file or its folder could not be made, written or read)\n"
         "  5    checksum mismatch\n"
         "  6    refused by --min-size or --max-size\n"
         "  130  interrupted by SIGINT or SIGTERM (state files kept for -c)\n"
         "With several downloads the status is that of the first one, in command-line\n"
         "order, that did not succeed.\n";
}

}  // namespace multidl
