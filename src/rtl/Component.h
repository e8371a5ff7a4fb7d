// Persistent objects (copy by Assign, published properties) and components
// (owner, name, owned children, free-notification, loading state). Components
// live on the thread that created them; nothing here is thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rtl {

class Properties;

class Persistent {
 public:
  virtual ~Persistent() = default;
  Persistent() = default;
  Persistent(const Persistent&) = delete;
  Persistent& operator=(const Persistent&) = delete;

  // The class name as shown in messages ("Cannot assign a %s to a %s").
  virtual std::string ClassName() const { return "TPersistent"; }

  // Copies Source into this object; when this class does not know Source, it
  // asks Source to AssignTo this object; when neither knows the other, raises
  // EConvertError "Cannot assign a <source class> to a <this class>".
  virtual void Assign(const Persistent& source);

  // Declares the published properties in streaming order (see PropertyStreaming).
  virtual void DefineProperties(Properties& properties);

 protected:
  virtual void AssignTo(Persistent& dest) const;
};

enum class Operation { opInsert, opRemove };

class Component : public Persistent {
 public:
  explicit Component(Component* owner = nullptr);
  ~Component() override;

  std::string ClassName() const override { return "TComponent"; }

  Component* Owner() const { return owner_; }
  const std::string& Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  // A value of the application's own, stored with the component.
  std::int32_t Tag() const { return tag_; }
  void SetTag(std::int32_t value) { tag_ = value; }

  int ComponentCount() const { return static_cast<int>(components_.size()); }
  Component* Components(int index) const { return components_.at(static_cast<size_t>(index)); }
  Component* FindComponent(const std::string& name) const;

  // Takes ownership of a component created without owner, or moves it.
  void InsertComponent(Component* component);
  void RemoveComponent(Component* component);

  // Asks to be told (Notification with opRemove) when Other is destroyed.
  void FreeNotification(Component* other);
  void RemoveFreeNotification(Component* other);

  bool Loading() const { return loading_; }
  bool Destroying() const { return destroying_; }
  // Brackets a load from a stored description: setters skip side effects while
  // Loading() is true; EndLoading calls Loaded.
  void BeginLoading() { loading_ = true; }
  void EndLoading();

 protected:
  // Called on every component that asked for it, and on the owner, when
  // Component is inserted or removed.
  virtual void Notification(Component* component, Operation operation);
  virtual void Loaded() {}

 private:
  void InternalRemoveNotifier(Component* other);

  Component* owner_ = nullptr;
  std::string name_;
  std::int32_t tag_ = 0;
  std::vector<Component*> components_;
  std::vector<Component*> freeNotifies_;
  bool loading_ = false;
  bool destroying_ = false;
};

// Creates a component owned by Owner; the owner frees it (or the caller, by
// deleting it through a unique_ptr, when Owner is null).
template <class T, class... Args>
T* CreateOwned(Component* owner, Args&&... args) {
  return new T(owner, std::forward<Args>(args)...);  // owner takes it in Component()
}

}  // namespace rtl
