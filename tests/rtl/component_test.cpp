#include <gtest/gtest.h>

#include <vector>

#include "rtl/Collection.h"
#include "rtl/Component.h"
#include "rtl/Exceptions.h"

namespace {

std::vector<std::string> gDestroyed;

class TTestComponent : public rtl::Component {
 public:
  explicit TTestComponent(rtl::Component* owner, std::string tag = "") : Component(owner), tag_(std::move(tag)) {}
  ~TTestComponent() override { gDestroyed.push_back(tag_); }
  std::string ClassName() const override { return "TTestComponent"; }

  // A reference that free-notification clears.
  void SetPeer(TTestComponent* peer) {
    if (peer_) peer_->RemoveFreeNotification(this);
    peer_ = peer;
    if (peer_) peer_->FreeNotification(this);
  }
  TTestComponent* Peer() const { return peer_; }
  int loadedCalls = 0;

 protected:
  void Notification(rtl::Component* c, rtl::Operation op) override {
    Component::Notification(c, op);
    if (op == rtl::Operation::opRemove && c == peer_) peer_ = nullptr;
  }
  void Loaded() override { ++loadedCalls; }

 private:
  std::string tag_;
  TTestComponent* peer_ = nullptr;
};

TEST(Component, OwnerFreesItsChildrenLastAddedFirst) {
  gDestroyed.clear();
  {
    TTestComponent owner(nullptr, "owner");
    new TTestComponent(&owner, "a");
    auto* b = new TTestComponent(&owner, "b");
    b->SetName("bee");
    EXPECT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(owner.FindComponent("bee"), b);
  }
  EXPECT_EQ(gDestroyed, (std::vector<std::string>{"owner", "b", "a"}));
}

TEST(Component, ChildFreedByHandLeavesItsOwner) {
  TTestComponent owner(nullptr);
  auto* child = new TTestComponent(&owner);
  delete child;
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(Component, FreeNotificationClearsReferencesToADestroyedComponent) {
  TTestComponent holder(nullptr);
  auto peer = std::make_unique<TTestComponent>(nullptr);
  holder.SetPeer(peer.get());
  EXPECT_EQ(holder.Peer(), peer.get());
  peer.reset();
  EXPECT_EQ(holder.Peer(), nullptr);
}

TEST(Component, DestroyedHolderIsForgottenByItsPeer) {
  TTestComponent peer(nullptr);
  {
    TTestComponent holder(nullptr);
    holder.SetPeer(&peer);
  }
  // Had the peer kept the holder in its list, this destruction would touch freed memory.
  SUCCEED();
}

TEST(Component, LoadingBracketCallsLoadedOnce) {
  TTestComponent c(nullptr);
  c.BeginLoading();
  EXPECT_TRUE(c.Loading());
  c.EndLoading();
  EXPECT_FALSE(c.Loading());
  EXPECT_EQ(c.loadedCalls, 1);
}

class TCountItem : public rtl::CollectionItem {
 public:
  explicit TCountItem(rtl::Collection* c) : CollectionItem(c) {}
  std::string ClassName() const override { return "TCountItem"; }
  int Value() const { return value_; }
  void SetValue(int v) {
    value_ = v;
    Changed(false);
  }
  void Assign(const rtl::Persistent& source) override {
    if (auto* other = dynamic_cast<const TCountItem*>(&source)) {
      value_ = other->value_;
      return;
    }
    CollectionItem::Assign(source);
  }

 private:
  int value_ = 0;
};

class TCountCollection : public rtl::OwnedCollection<TCountItem> {
 public:
  std::vector<rtl::CollectionItem*> updates;

 protected:
  void Update(rtl::CollectionItem* item) override { updates.push_back(item); }
};

TEST(Collection, AddChangeAndDeleteEachNotifyOutsideUpdateBrackets) {
  TCountCollection c;
  auto* a = c.Add();
  auto* b = c.Add();
  EXPECT_EQ(c.updates.size(), 2u);
  b->SetValue(3);
  ASSERT_EQ(c.updates.size(), 3u);
  EXPECT_EQ(c.updates.back(), b);
  EXPECT_EQ(b->Index(), 1);
  c.Delete(0);
  EXPECT_EQ(c.updates.size(), 4u);
  EXPECT_EQ(c.Items(0), b);
  (void)a;
}

TEST(Collection, ABracketNotifiesOnceAtItsEnd) {
  TCountCollection c;
  c.BeginUpdate();
  c.Add()->SetValue(1);
  c.Add()->SetValue(2);
  EXPECT_TRUE(c.updates.empty());
  c.EndUpdate();
  ASSERT_EQ(c.updates.size(), 1u);
  EXPECT_EQ(c.updates[0], nullptr);
}

TEST(Collection, AssignCopiesEveryItemAndRefusesOtherClasses) {
  TCountCollection a, b;
  a.Add()->SetValue(7);
  a.Add()->SetValue(8);
  b.Add();
  b.updates.clear();
  b.Assign(a);
  ASSERT_EQ(b.Count(), 2);
  EXPECT_EQ(b.Items(0)->Value(), 7);
  EXPECT_EQ(b.Items(1)->Value(), 8);
  EXPECT_EQ(b.updates.size(), 1u);
  TTestComponent other(nullptr);
  EXPECT_THROW(b.Assign(other), rtl::EConvertError);
  EXPECT_THROW(b.Items(0)->Assign(other), rtl::EConvertError);
}

}  // namespace
