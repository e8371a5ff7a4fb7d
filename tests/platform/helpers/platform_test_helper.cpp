// A second process for the platform tests:
//   write-args FILE ARGS...        writes each argument followed by a NUL byte
//   exit CODE                      ends with that exit code
//   ini-write FILE PREFIX COUNT    writes keys PREFIX0.. into section "s" of FILE
//   sleep                          waits until killed
//   hold-mutex NAME STATUS [DONE]  creates the named mutex, writes "owned" or
//                                  "exists" into the fifo STATUS, then waits
//                                  until killed, or with DONE until the fifo
//                                  DONE reaches its end, and exits normally.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/IniFile.h"
#include "platform/LastError.h"
#include "platform/NamedMutex.h"

namespace {

int WriteArgs(int argc, char** argv) {
  std::ofstream out(argv[2], std::ios::binary);
  for (int i = 3; i < argc; ++i) {
    out << argv[i];
    out.put('\0');
  }
  return out ? 0 : 1;
}

int IniWrite(char** argv) {
  int count = std::atoi(argv[4]);
  for (int i = 0; i < count; ++i) {
    std::string key = std::string(argv[3]) + std::to_string(i);
    if (!platform::WritePrivateProfileString("s", key, std::to_string(i), argv[2])) return 1;
  }
  return 0;
}

int HoldMutex(int argc, char** argv) {
  auto mutex = platform::NamedMutex::Create(argv[2]);
  std::string status = platform::GetLastError() == platform::kErrorAlreadyExists ? "exists"
                       : mutex->Owned()                                         ? "owned"
                                                                                : "error";
  int fd = ::open(argv[3], O_WRONLY | O_CLOEXEC);
  if (fd < 0) return 2;
  if (::write(fd, status.data(), status.size()) != static_cast<ssize_t>(status.size())) return 3;
  ::close(fd);
  if (argc > 4) {
    int done = ::open(argv[4], O_RDONLY | O_CLOEXEC);
    char buffer[64];
    while (done >= 0 && ::read(done, buffer, sizeof buffer) > 0) {
    }
    // Ends without closing the handle: the process's end must free the mutex.
    std::_Exit(0);
  }
  for (;;) ::pause();
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "write-args" && argc > 2) return WriteArgs(argc, argv);
  if (mode == "exit" && argc > 2) return std::atoi(argv[2]);
  if (mode == "ini-write" && argc > 4) return IniWrite(argv);
  if (mode == "sleep") {
    for (;;) ::pause();
  }
  if (mode == "hold-mutex" && argc > 3) return HoldMutex(argc, argv);
  std::fprintf(stderr, "usage: platform_test_helper write-args|exit|sleep|hold-mutex ...\n");
  return 64;
}
