#include "download/InternetControl.h"

#include <algorithm>

#include "download/ControlNotifier.h"
#include "download/InternetItem.h"
#include "inet/clConnection.h"
#include "platform/Registry.h"
#include "rtl/Exceptions.h"
#include "rtl/PropertyStreaming.h"
#include "workers/CustomThreader.h"

TclControlNotifier::TclControlNotifier(TclCustomInternetControl* control) : control_(control) {
  rtl::Assert(control != nullptr, "Assertion failure", "clMultiDC", 1747);
  control_->AddNotifier(this);
}

TclControlNotifier::~TclControlNotifier() {
  if (control_) control_->RemoveNotifier(this);
}

TclCustomInternetControl::TclCustomInternetControl(rtl::Component* owner)
    : rtl::Component(owner), internetAgent_(kDefaultInternetAgent) {}

TclCustomInternetControl::~TclCustomInternetControl() {
  // The notifiers are not told; they only forget the control, so that one
  // destroyed later does not unregister from a control that is gone.
  for (TclControlNotifier* notifier : notifiers_) notifier->control_ = nullptr;
  notifiers_.clear();
  SetConnection(nullptr);
}

void TclCustomInternetControl::SetTryCount(int value) {
  if (value > 0) tryCount_ = value;
}
void TclCustomInternetControl::SetBatchSize(int value) {
  if (value > 0) batchSize_ = value;
}
void TclCustomInternetControl::SetTimeOut(int value) {
  if (value > 0) timeOut_ = value;
}
void TclCustomInternetControl::SetReconnectAfter(int value) {
  if (value > 0) reconnectAfter_ = value;
}
void TclCustomInternetControl::SetMinResourceSize(std::int64_t value) {
  if (value >= 0) minResourceSize_ = value;
}
void TclCustomInternetControl::SetMaxResourceSize(std::int64_t value) {
  if (value >= 0) maxResourceSize_ = value;
}
void TclCustomInternetControl::SetDefaultChar(char value) {
  if (static_cast<unsigned char>(value) >= 32) defaultChar_ = value;
}

void TclCustomInternetControl::SetConnection(TclInternetConnection* value) {
  if (value == connection_) return;
  if (connection_) connection_->RemoveFreeNotification(this);
  connection_ = value;
  if (connection_) connection_->FreeNotification(this);
}

void TclCustomInternetControl::BeginBusy() {
  if (busyCount_++ == 0) DoIsBusyChanged();
}

void TclCustomInternetControl::EndBusy() {
  const int before = busyCount_;
  busyCount_ = std::max(0, busyCount_ - 1);
  if (before == 1) DoIsBusyChanged();
}

void TclCustomInternetControl::DoIsBusyChanged() {
  if (onIsBusyChanged_) onIsBusyChanged_(this);
}

void TclCustomInternetControl::AddNotifier(TclControlNotifier* notifier) {
  notifiers_.push_back(notifier);
}

void TclCustomInternetControl::RemoveNotifier(TclControlNotifier* notifier) {
  auto it = std::find(notifiers_.begin(), notifiers_.end(), notifier);
  if (it != notifiers_.end()) notifiers_.erase(it);
}

void TclCustomInternetControl::Notification(rtl::Component* component, rtl::Operation operation) {
  rtl::Component::Notification(component, operation);
  if (operation != rtl::Operation::opRemove) return;
  if (component == connection_) connection_ = nullptr;
  if (!Destroying()) ComponentRemoved(component);
}

void TclCustomInternetControl::LoadFromRegistry(const std::string& key) {
  platform::RegistryKey registry;
  if (!registry.Open(key, false)) return;
  std::string data;
  if (registry.ValueSize("Data") > 0 && registry.ReadBinary("Data", data)) {
    try {
      rtl::ReadComponent(*this, rtl::Json::parse(data));
    } catch (const std::exception&) {
      // A damaged or foreign value restores what it can and nothing more.
    }
  }
  registry.Close();
}

void TclCustomInternetControl::SaveToRegistry(const std::string& key) {
  platform::RegistryKey registry;
  if (!registry.Open(key, true)) return;
  registry.WriteBinary("Data", rtl::WriteComponent(*this).dump());
  registry.Close();
}

void TclMultiInternetControl::Start(TclInternetItem* item, bool async) {
  if (item) {
    item->Start(async);
    return;
  }
  for (int i = 0; i < GetItemCount(); ++i) GetItem(i)->Start(async);
}

void TclMultiInternetControl::Loaded() {
  TclCustomInternetControl::Loaded();
  DoChanged(nullptr);
}

void TclMultiInternetControl::ComponentRemoved(rtl::Component* component) {
  for (int i = 0; i < GetItemCount(); ++i) GetItem(i)->DropHTTPRequest(component);
}

void TclMultiInternetControl::DoChanged(TclInternetItem* item) {
  if (onChanged_) onChanged_(this, item);
}

void TclMultiInternetControl::DoResourceStateChanged(TclInternetItem* item) {
  ForEachNotifier([item](TclControlNotifier* n) { n->ResourceStateChanged(item); });
}

void TclMultiInternetControl::DoGetCertificate(TclInternetItem* item, PCCERT_CONTEXT& certContext,
                                               bool& handled) {
  if (onGetCertificate_) onGetCertificate_(this, item, certContext, handled);
}

void TclMultiInternetControl::DoURLParsing(TclInternetItem* item, URL_COMPONENTSA& urlComponents) {
  if (onURLParsing_) onURLParsing_(this, item, urlComponents);
}

void TclMultiInternetControl::DoGetResourceInfo(TclInternetItem* item,
                                                TclResourceInfo* resourceInfo) {
  if (onGetResourceInfo_) onGetResourceInfo_(this, item, resourceInfo);
}

void TclMultiInternetControl::DoStatusChanged(TclInternetItem* item, TclProcessStatus status) {
  if (onStatusChanged_) onStatusChanged_(this, item, status);
  ForEachNotifier([&](TclControlNotifier* n) { n->StatusChanged(item, status); });
}

void TclMultiInternetControl::DoDataItemProceed(TclInternetItem* item,
                                                TclResourceInfo* resourceInfo,
                                                TclResourceStateItem* stateItem,
                                                const char* currentData,
                                                std::int32_t currentDataSize) {
  if (onDataItemProceed_)
    onDataItemProceed_(this, item, resourceInfo, stateItem, currentData, currentDataSize);
  ForEachNotifier([&](TclControlNotifier* n) {
    n->DataItemProceed(item, resourceInfo, stateItem, currentData, currentDataSize);
  });
}

void TclMultiInternetControl::DoError(TclInternetItem* item, const std::string& error,
                                      std::int32_t errorCode) {
  if (onError_) onError_(this, item, error, errorCode);
}

void TclMultiInternetControl::DoProcessCompleted(TclInternetItem* item) {
  if (onProcessCompleted_) onProcessCompleted_(this, item);
}

void TclMultiInternetControl::DoRetrying(TclInternetItem* item, const std::string& error,
                                         std::int32_t errorCode, int pauseMs) {
  if (onRetrying_) onRetrying_(this, item, error, errorCode, pauseMs);
}
