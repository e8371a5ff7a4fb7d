#include "rtl/Collection.h"

#include "rtl/Exceptions.h"

namespace rtl {

int CollectionItem::Index() const {
  if (!collection_) return -1;
  for (int i = 0; i < collection_->Count(); ++i) {
    if (collection_->GetItem(i) == this) return i;
  }
  return -1;
}

void CollectionItem::Changed(bool allItems) {
  if (!collection_ || collection_->updateCount_ != 0) return;
  if (allItems) {
    collection_->Update(nullptr);
  } else {
    collection_->Update(this);
  }
}

Collection::~Collection() {
  // Items go without notifications: the owner is being destroyed.
  updateCount_ = 1;
  items_.clear();
}

CollectionItem* Collection::GetItem(int index) const {
  if (index < 0 || index >= Count()) RaiseListIndexError(index);
  return items_[static_cast<size_t>(index)].get();
}

CollectionItem* Collection::AddItem() { return InsertItem(Count()); }

CollectionItem* Collection::InsertItem(int index) {
  if (index < 0 || index > Count()) RaiseListIndexError(index);
  auto item = factory_(this);
  item->collection_ = this;
  CollectionItem* raw = item.get();
  items_.insert(items_.begin() + index, std::move(item));
  Notify(raw, CollectionNotification::cnAdded);
  Changed();
  return raw;
}

void Collection::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseListIndexError(index);
  CollectionItem* raw = items_[static_cast<size_t>(index)].get();
  Notify(raw, CollectionNotification::cnDeleting);
  items_.erase(items_.begin() + index);
  Changed();
}

void Collection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  while (!items_.empty()) Delete(Count() - 1);
  EndUpdate();
}

void Collection::EndUpdate() {
  if (updateCount_ == 0) return;
  --updateCount_;
  Changed();
}

void Collection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

void Collection::Update(CollectionItem*) {}

void Collection::Notify(CollectionItem*, CollectionNotification) {}

void Collection::Assign(const Persistent& source) {
  const auto* other = dynamic_cast<const Collection*>(&source);
  if (!other) {
    Persistent::Assign(source);
    return;
  }
  BeginUpdate();
  try {
    Clear();
    for (const auto& item : other->items_) AddItem()->Assign(*item);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

}  // namespace rtl
