// The download control's list layer: the owned download list, the folder for
// items without a full local path, the preview text and file-time settings.
//
// Threads: the user-interface thread's, like every control.
#pragma once

#include <memory>
#include <string>

#include "download/DownLoadItem.h"
#include "download/InternetControl.h"

class TclCustomMultiDownLoaderControl : public TclMultiInternetControl {
 public:
  explicit TclCustomMultiDownLoaderControl(rtl::Component* owner);
  // Frees the download list first (busy items are stopped and waited for),
  // then the notifier list.
  ~TclCustomMultiDownLoaderControl() override;

  TclDownLoadList& DownLoadList() { return *downLoadList_; }
  // Copies the items of List; outside loading, re-homes their local files.
  void SetDownLoadList(const TclDownLoadList& list);
  const std::string& LocalFolder() const { return localFolder_; }
  // Outside loading, moves every item's LocalFile into the new folder.
  void SetLocalFolder(const std::string& value);
  bool CorrectResourceTime() const { return correctResourceTime_; }
  void SetCorrectResourceTime(bool value) { correctResourceTime_ = value; }
  int PreviewCharCount() const { return previewCharCount_; }
  void SetPreviewCharCount(int value);  // >= 0

  TclInternetItem* GetItem(int index) override;
  int GetItemCount() override;

  void SetOnDataTextProceed(TclDataTextProceedEvent handler) {
    onDataTextProceed_ = std::move(handler);
  }
  virtual void DoDataTextProceed(TclInternetItem* item, const rtl::StringList& text);

 private:
  void RehomeLocalFiles();

  std::unique_ptr<TclDownLoadList> downLoadList_;
  TclDataTextProceedEvent onDataTextProceed_;
  bool correctResourceTime_ = true;
  int previewCharCount_ = 256;
  std::string localFolder_;
};
