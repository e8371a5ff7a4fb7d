// Loading shared libraries at run time and looking up their exports by name.
//
// A name without '/' is looked for first in the folder of the running
// executable (where the project installs its libraries beside the programs),
// then by the loader's usual search. Failures set the thread's last error (126
// module not found, 127 entry point not found) and keep the loader's readable
// text for this thread (LastLoaderError).
//
// A DynamicLibrary object belongs to the thread that uses it; resolved entry
// points may be called from any thread while the library stays loaded.
#pragma once

#include <string>
#include <string_view>

namespace platform {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

  // Loads Name (freeing a library loaded before). False with 126 on failure.
  bool Load(const std::string& name);
  // Unloads; entry points resolved before must not be used afterwards.
  void Free();
  bool IsLoaded() const { return handle_ != nullptr; }
  // The file actually loaded, as found.
  const std::string& FileName() const { return fileName_; }

  // Address of the export Name, or null with 127 (6 when nothing is loaded).
  void* Resolve(const std::string& name) const;

  // Typed lookup: Function is a function-pointer type.
  template <typename Function>
  Function ResolveAs(const std::string& name) const {
    return reinterpret_cast<Function>(Resolve(name));
  }

 private:
  void* handle_ = nullptr;
  std::string fileName_;
};

// The loader's text for the last failed load or lookup on this thread ("" when
// none failed yet).
std::string LastLoaderError();

}  // namespace platform
