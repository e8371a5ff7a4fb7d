#include "platform/inet/InetObject.h"

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/inet/RootObject.h"

namespace inet {
namespace {

struct HandleTable {
  std::mutex mutex;
  std::unordered_map<std::uintptr_t, std::shared_ptr<InetObject>> objects;
  // Handle values grow and are never handed out twice, so a stale value can
  // never reach a newer object.
  std::uintptr_t next = 0x10000;
};

HandleTable& Table() {
  static HandleTable* table = new HandleTable();  // outlives every static destructor
  return *table;
}

struct WakeRegistry {
  std::mutex mutex;
  std::unordered_set<WakeTarget*> targets;
};

WakeRegistry& Registry() {
  static WakeRegistry* registry = new WakeRegistry();
  return *registry;
}

}  // namespace

InetObject::InetObject(ObjectKind kind, std::shared_ptr<InetObject> parent, DWORD_PTR context)
    : kind_(kind), parent_(std::move(parent)), context_(context) {
  if (parent_) {
    settings = parent_->settings;
  }
}

InetObject::~InetObject() = default;

RootObject& InetObject::Root() {
  InetObject* object = this;
  while (object->parent_) {
    object = object->parent_.get();
  }
  return static_cast<RootObject&>(*object);
}

bool InetObject::Cancelled() const {
  for (const InetObject* object = this; object != nullptr; object = object->parent_.get()) {
    if (object->closed_.load()) {
      return true;
    }
  }
  return false;
}

bool InetObject::HasAncestor(const InetObject* ancestor) const {
  for (const InetObject* object = this; object != nullptr; object = object->parent_.get()) {
    if (object == ancestor) {
      return true;
    }
  }
  return false;
}

void InetObject::ReportStatus(DWORD status, LPVOID information, DWORD length) {
  INTERNET_STATUS_CALLBACK callback = Root().StatusCallback();
  if (callback != nullptr) {
    callback(handle_, context_, status, information, length);
  }
}

HINTERNET RegisterObject(const std::shared_ptr<InetObject>& object) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  std::uintptr_t value = table.next;
  table.next += 4;
  HINTERNET handle = reinterpret_cast<HINTERNET>(value);
  object->SetHandle(handle);
  table.objects.emplace(value, object);
  return handle;
}

std::shared_ptr<InetObject> LookupObject(HINTERNET handle) {
  HandleTable& table = Table();
  std::lock_guard<std::mutex> lock(table.mutex);
  auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
  return found == table.objects.end() ? nullptr : found->second;
}

bool CloseObject(HINTERNET handle) {
  std::vector<std::shared_ptr<InetObject>> released;
  {
    HandleTable& table = Table();
    std::lock_guard<std::mutex> lock(table.mutex);
    auto found = table.objects.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == table.objects.end()) {
      return false;
    }
    InetObject* closing = found->second.get();
    closing->MarkClosed();
    for (auto it = table.objects.begin(); it != table.objects.end();) {
      if (it->second->HasAncestor(closing)) {
        it->second->MarkClosed();
        released.push_back(std::move(it->second));
        it = table.objects.erase(it);
      } else {
        ++it;
      }
    }
  }
  {
    WakeRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    for (WakeTarget* target : registry.targets) {
      target->Wake();
    }
  }
  // The last references may go here, outside every lock; a call still running on
  // another thread keeps its own reference and frees the object itself.
  released.clear();
  return true;
}

void EnterBlockingCall(WakeTarget* target) {
  WakeRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.targets.insert(target);
}

void LeaveBlockingCall(WakeTarget* target) {
  WakeRegistry& registry = Registry();
  std::lock_guard<std::mutex> lock(registry.mutex);
  registry.targets.erase(target);
}

}  // namespace inet
