// The download component as placed on a form: every setting published, so that
// it is stored with the window and in the registry value "Data".
//
// Using it from a program:
//
//   TclMultiDownLoader downloader;
//   TclDownLoadItem* item = downloader.DownLoadList().Add();
//   item->SetURL(url);
//   item->SetLocalFile(path);
//   downloader.Start(item, true);
//   TclItemOutcome outcome = WaitForItem(*item, timeoutMs);
//   if (!outcome.Succeeded()) report(outcome.Error);
//
// - The caller must pump messages. The control, its items and every event
//   belong to the thread that created the control; each worker hands its
//   events to that thread as a sent message and waits until it has run there.
//   While that thread neither pumps (platform::ProcessMessages after
//   platform::WaitMessage, a toolkit main loop watching
//   platform::QueueFileDescriptor) nor waits in WaitForItem or a synchronous
//   Start, nothing moves: every worker sits blocked in its first event.
// - Where the outcome lives: the item's segment map, ResourceState().Status()
//   (psSuccess, psFailed, psErrors, psTerminated) and BytesProceed() against
//   ResourceInfo()->Size(); the errors in Errors() (and OnError as they come).
//   The item's own Status() is not the outcome: it stays psProcess after a
//   failed information phase (a 404, a refused connection). WaitForItem reads
//   all of this into one TclItemOutcome.
// - Without the internet client library (libinetclient.so, found beside the
//   program, in the installed library folder or on the loader's path), the
//   first call that needs it (setting a URL, Start) raises
//   EclInternetLibraryError, an std::exception naming the file and the
//   folders looked in.
//
// Threads: the user-interface thread's.
#pragma once

#include "download/MultiDownLoaderControl.h"
#include "download/WaitForItem.h"

class TclMultiDownLoader : public TclCustomMultiDownLoaderControl {
 public:
  explicit TclMultiDownLoader(rtl::Component* owner = nullptr)
      : TclCustomMultiDownLoaderControl(owner) {}
  std::string ClassName() const override { return "TclMultiDownLoader"; }
  void DefineProperties(rtl::Properties& properties) override;
};
