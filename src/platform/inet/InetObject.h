// The objects behind the opaque handles of the library and the table that maps
// handle values to them.
//
// Threads: any thread may call the entry points. The handle table is guarded by its
// own mutex; an entry point looks its handle up and holds a reference for the whole
// call, so a concurrent InternetCloseHandle only marks the object closed (and wakes
// the blocked call); the object is freed by whichever thread drops the last reference.
// The fields of an object are written on creation and by option calls of the thread
// that uses the handle; `closed` is atomic and read by any thread.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/inet/InetClient.h"

namespace inet {

enum class ObjectKind { kRoot, kConnect, kRequest, kFtpFile, kFtpFind };

// Per-handle settings that children inherit at creation.
struct HandleSettings {
  DWORD connectTimeoutMs = 60000;
  DWORD receiveTimeoutMs = 60000;
  DWORD sendTimeoutMs = 60000;
  std::string proxyUser;
  std::string proxyPassword;
};

class RootObject;

class InetObject : public std::enable_shared_from_this<InetObject> {
 public:
  InetObject(ObjectKind kind, std::shared_ptr<InetObject> parent, DWORD_PTR context);
  virtual ~InetObject();
  InetObject(const InetObject&) = delete;
  InetObject& operator=(const InetObject&) = delete;

  ObjectKind Kind() const { return kind_; }
  const std::shared_ptr<InetObject>& Parent() const { return parent_; }
  RootObject& Root();
  DWORD_PTR Context() const { return context_; }
  void SetContext(DWORD_PTR context) { context_ = context; }
  HINTERNET Handle() const { return handle_; }
  void SetHandle(HINTERNET handle) { handle_ = handle; }

  // True once this handle or any ancestor has been closed.
  bool Cancelled() const;
  void MarkClosed() { closed_.store(true); }
  bool HasAncestor(const InetObject* ancestor) const;

  HandleSettings settings;

  // Reports a status to the root's callback, if one is installed. Never call it
  // while holding a lock.
  void ReportStatus(DWORD status, LPVOID information, DWORD length);

 private:
  ObjectKind kind_;
  std::shared_ptr<InetObject> parent_;
  DWORD_PTR context_;
  HINTERNET handle_ = nullptr;
  std::atomic<bool> closed_{false};
};

// Handle table.
HINTERNET RegisterObject(const std::shared_ptr<InetObject>& object);
std::shared_ptr<InetObject> LookupObject(HINTERNET handle);
// Looks a handle up and checks its kind; sets the last error and returns null when
// the handle is unknown (ERROR_INVALID_HANDLE) or of another kind
// (ERROR_INTERNET_INCORRECT_HANDLE_TYPE).
template <typename T>
std::shared_ptr<T> LookupAs(HINTERNET handle, std::initializer_list<ObjectKind> kinds);
// Removes a handle and its descendants from the table, marks them closed and wakes
// every blocked call. Returns false when the handle is unknown.
bool CloseObject(HINTERNET handle);

// Calls blocked in the engine register here so that a close can wake them.
class WakeTarget {
 public:
  virtual void Wake() = 0;

 protected:
  ~WakeTarget() = default;
};
void EnterBlockingCall(WakeTarget* target);
void LeaveBlockingCall(WakeTarget* target);

}  // namespace inet

#include "platform/inet/InetObjectImpl.h"
