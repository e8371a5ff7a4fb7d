#include "rtl/Component.h"

#include <algorithm>

#include "rtl/Exceptions.h"
#include "rtl/PropertyStreaming.h"

namespace rtl {

void Persistent::Assign(const Persistent& source) { source.AssignTo(*this); }

void Persistent::AssignTo(Persistent& dest) const {
  throw EConvertError(Format("Cannot assign a %s to a %s", ClassName().c_str(), dest.ClassName().c_str()));
}

void Persistent::DefineProperties(Properties&) {}

Component::Component(Component* owner) {
  if (owner) owner->InsertComponent(this);
}

Component::~Component() {
  destroying_ = true;
  // Tell everybody who holds a reference to us first, then free what we own.
  while (!freeNotifies_.empty()) {
    Component* other = freeNotifies_.back();
    freeNotifies_.pop_back();
    other->InternalRemoveNotifier(this);
    other->Notification(this, Operation::opRemove);
  }
  while (!components_.empty()) {
    Component* child = components_.back();
    RemoveComponent(child);
    delete child;
  }
  if (owner_) owner_->RemoveComponent(this);
}

Component* Component::FindComponent(const std::string& name) const {
  if (name.empty()) return nullptr;
  for (Component* c : components_) {
    if (c->name_ == name) return c;
  }
  return nullptr;
}

void Component::InsertComponent(Component* component) {
  if (component->owner_) component->owner_->RemoveComponent(component);
  components_.push_back(component);
  component->owner_ = this;
  Notification(component, Operation::opInsert);
}

void Component::RemoveComponent(Component* component) {
  auto it = std::find(components_.begin(), components_.end(), component);
  if (it == components_.end()) return;
  Notification(component, Operation::opRemove);
  components_.erase(it);
  component->owner_ = nullptr;
}

void Component::FreeNotification(Component* other) {
  if (!other || other == this) return;
  if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end()) {
    freeNotifies_.push_back(other);
  }
  if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) ==
      other->freeNotifies_.end()) {
    other->freeNotifies_.push_back(this);
  }
}

void Component::RemoveFreeNotification(Component* other) {
  if (!other) return;
  InternalRemoveNotifier(other);
  other->InternalRemoveNotifier(this);
}

void Component::InternalRemoveNotifier(Component* other) {
  freeNotifies_.erase(std::remove(freeNotifies_.begin(), freeNotifies_.end(), other), freeNotifies_.end());
}

void Component::EndLoading() {
  loading_ = false;
  Loaded();
}

void Component::Notification(Component*, Operation) {}

}  // namespace rtl
