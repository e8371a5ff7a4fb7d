#include "download/MultiDownLoaderControl.h"

TclCustomMultiDownLoaderControl::TclCustomMultiDownLoaderControl(rtl::Component* owner)
    : TclMultiInternetControl(owner), downLoadList_(std::make_unique<TclDownLoadList>(this)) {}

TclCustomMultiDownLoaderControl::~TclCustomMultiDownLoaderControl() {
  downLoadList_.reset();
}

void TclCustomMultiDownLoaderControl::SetDownLoadList(const TclDownLoadList& list) {
  downLoadList_->Assign(list);
  if (!Loading()) RehomeLocalFiles();
}

void TclCustomMultiDownLoaderControl::SetLocalFolder(const std::string& value) {
  if (value == localFolder_) return;
  localFolder_ = value;
  if (!Loading()) RehomeLocalFiles();
}

void TclCustomMultiDownLoaderControl::SetPreviewCharCount(int value) {
  if (value >= 0) previewCharCount_ = value;
}

void TclCustomMultiDownLoaderControl::RehomeLocalFiles() {
  for (int i = 0; i < downLoadList_->Count(); ++i) {
    TclDownLoadItem* item = downLoadList_->Items(i);
    item->SetLocalFile(CombineLocalFile(localFolder_, item->LocalFile()));
  }
}

TclInternetItem* TclCustomMultiDownLoaderControl::GetItem(int index) {
  if (!downLoadList_) return nullptr;
  return downLoadList_->Items(index);
}

int TclCustomMultiDownLoaderControl::GetItemCount() {
  return downLoadList_ ? downLoadList_->Count() : 0;
}

void TclCustomMultiDownLoaderControl::DoDataTextProceed(TclInternetItem* item,
                                                        const rtl::StringList& text) {
  if (onDataTextProceed_) onDataTextProceed_(this, item, text);
}
