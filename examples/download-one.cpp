// Downloads one URL to a file with the download component and says how it went.
// Usage: download-one URL FILE. Exit status 0 when every byte arrived, 1 when
// the download failed (the error is printed), 2 for a usage error.
#include <cstdio>
#include <exception>

#include "download/clMultiDownLoader.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s URL FILE\n", argv[0]);
    return 2;
  }
  try {
    TclMultiDownLoader downloader;
    downloader.SetTryCount(3);         // three attempts in all,
    downloader.SetReconnectAfter(500);  // half a second apart
    TclDownLoadItem* item = downloader.DownLoadList().Add();
    item->SetURL(argv[1]);
    item->SetLocalFile(argv[2]);
    item->SetThreadCount(4);
    downloader.Start(item, true);
    // Serves the workers' events on this thread until the item has completed.
    const TclItemOutcome outcome = WaitForItem(*item, 60000);
    if (!outcome.Succeeded()) {
      std::fprintf(stderr, "download failed: %s\n",
                   outcome.Completed ? outcome.Error.c_str() : "timed out");
      return 1;
    }
    std::printf("%lld bytes written to %s\n", static_cast<long long>(outcome.BytesProceed), argv[2]);
    return 0;
  } catch (const std::exception& e) {
    // A bad address, or the internet client library not found.
    std::fprintf(stderr, "download failed: %s\n", e.what());
    return 1;
  }
}
