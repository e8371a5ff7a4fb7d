// Collections of owned items: adding, removing or changing an item notifies the
// collection (Update), except inside BeginUpdate/EndUpdate brackets, whose end
// notifies once. Single-threaded, like the components that own them.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "rtl/Component.h"

namespace rtl {

class Collection;

class CollectionItem : public Persistent {
 public:
  explicit CollectionItem(Collection* collection = nullptr) : collection_(collection) {}
  std::string ClassName() const override { return "TCollectionItem"; }

  Collection* GetCollection() const { return collection_; }
  int Index() const;

 protected:
  // Tells the collection that this item (or, with allItems, everything) changed.
  void Changed(bool allItems);

 private:
  friend class Collection;
  Collection* collection_;
};

enum class CollectionNotification { cnAdded, cnExtracting, cnDeleting };

class Collection : public Persistent {
 public:
  using ItemFactory = std::function<std::unique_ptr<CollectionItem>(Collection*)>;

  explicit Collection(ItemFactory factory) : factory_(std::move(factory)) {}
  ~Collection() override;
  std::string ClassName() const override { return "TCollection"; }

  int Count() const { return static_cast<int>(items_.size()); }
  CollectionItem* GetItem(int index) const;
  CollectionItem* AddItem();
  CollectionItem* InsertItem(int index);
  void Delete(int index);
  void Clear();

  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  // Replaces every item by a new item assigned from the matching source item.
  // A source that is not a collection is refused.
  void Assign(const Persistent& source) override;

 protected:
  friend class CollectionItem;
  // After an item was added, removed or changed (Item null: several or all).
  virtual void Update(CollectionItem* item);
  virtual void Notify(CollectionItem* item, CollectionNotification action);
  void Changed();

 private:
  ItemFactory factory_;
  std::vector<std::unique_ptr<CollectionItem>> items_;
  int updateCount_ = 0;
};

// A collection of items of one class, with typed access.
template <class T>
class OwnedCollection : public Collection {
 public:
  OwnedCollection() : Collection([](Collection* c) { return std::make_unique<T>(c); }) {}
  T* Items(int index) const { return static_cast<T*>(GetItem(index)); }
  T* Add() { return static_cast<T*>(AddItem()); }
  T* Insert(int index) { return static_cast<T*>(InsertItem(index)); }
};

}  // namespace rtl
