// A named mutex shared between processes of the same user: an advisory lock
// (flock) on a file named after the mutex in the runtime folder
// ($XDG_RUNTIME_DIR, else /tmp with the user id in the file name). The kernel
// drops the lock when the holder closes the handle or ends in any way, killed
// included, so a crashed holder never leaves the mutex taken.
//
// A handle belongs to the thread that created it until handed on; it has no
// internal locking. Different handles may be used on different threads.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace platform {

class NamedMutex {
 public:
  // Creates the mutex Name, taking it. A handle is returned in every case; the
  // thread's last error then tells what happened: 0 when this handle holds the
  // mutex, 183 (already exists) when another holder has it (another process,
  // or another handle of this process), another code when the lock file could
  // not be used. Only a holding handle frees anything when closed. An empty
  // Name makes a private mutex that is always taken.
  static std::unique_ptr<NamedMutex> Create(std::string_view name);

  ~NamedMutex();
  NamedMutex(const NamedMutex&) = delete;
  NamedMutex& operator=(const NamedMutex&) = delete;

  // True while this handle holds the mutex.
  bool Owned() const { return owned_; }
  // Frees the mutex when this handle holds it; later calls do nothing.
  void Close();

  const std::string& Name() const { return name_; }
  // The lock file that stands for the mutex Name.
  static std::string LockFileFor(std::string_view name);

 private:
  explicit NamedMutex(std::string name) : name_(std::move(name)) {}

  std::string name_;
  int fd_ = -1;
  bool owned_ = false;
};

}  // namespace platform
