#include "platform/Process.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "platform/Files.h"
#include "platform/LastError.h"

extern char** environ;

namespace platform {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Checks one candidate: 0 when it is an executable regular file, else the
// reason in the last-error numbering.
DWORD CheckProgram(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return ErrorFromErrno(errno);
  if (!S_ISREG(st.st_mode) || ::access(path.c_str(), X_OK) != 0) return kErrorAccessDenied;
  return kErrorSuccess;
}

// The file to execute for Name, or "" with the reason in Error.
std::string ResolveProgram(const std::string& name, DWORD& error) {
  if (name.empty()) {
    error = kErrorFileNotFound;
    return std::string();
  }
  if (name.find('/') != std::string::npos) {
    error = CheckProgram(name);
    return error == kErrorSuccess ? name : std::string();
  }
  const char* pathVariable = std::getenv("PATH");
  std::string_view search = pathVariable && *pathVariable ? pathVariable : "/usr/local/bin:/usr/bin:/bin";
  error = kErrorFileNotFound;
  std::size_t start = 0;
  while (start <= search.size()) {
    std::size_t end = search.find(':', start);
    if (end == std::string_view::npos) end = search.size();
    std::string folder(search.substr(start, end - start));
    std::string candidate = IncludeTrailingPathDelimiter(folder.empty() ? "." : folder) + name;
    DWORD reason = CheckProgram(candidate);
    if (reason == kErrorSuccess) {
      error = kErrorSuccess;
      return candidate;
    }
    // A found but unusable file is a better explanation than "not found".
    if (reason == kErrorAccessDenied) error = reason;
    start = end + 1;
  }
  return std::string();
}

void CollectInBackground(pid_t pid) {
  std::thread([pid] {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

int ExitCodeOf(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

}  // namespace

bool StartProcess(const std::vector<std::string>& argv, int* processId) {
  if (argv.empty()) {
    SetLastError(kErrorInvalidParameter);
    return false;
  }
  DWORD error = kErrorSuccess;
  std::string program = ResolveProgram(argv[0], error);
  if (program.empty()) {
    SetLastError(error);
    return false;
  }
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  // The child starts with no blocked signals and default handlers, whatever
  // this process's threads have set up.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  int rc = ::posix_spawn(&pid, program.c_str(), nullptr, &attributes, args.data(), environ);
  posix_spawnattr_destroy(&attributes);
  if (rc != 0) {
    SetLastErrorFromErrno(rc);
    return false;
  }
  if (processId) {
    *processId = static_cast<int>(pid);
  } else {
    CollectInBackground(pid);
  }
  SetLastError(kErrorSuccess);
  return true;
}

bool StartCommandLine(std::string_view commandLine, int* processId) {
  return StartProcess(ParseCommandLine(commandLine), processId);
}

bool WaitForProcess(int processId, std::chrono::milliseconds timeout, int& exitCode) {
  int status = 0;
  int descriptor = static_cast<int>(::syscall(SYS_pidfd_open, processId, 0));
  if (descriptor >= 0) {
    pollfd entry{descriptor, POLLIN, 0};
    int ready;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    do {
      auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      ready = ::poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(0, left.count())));
    } while (ready < 0 && errno == EINTR);
    ::close(descriptor);
    if (ready == 0) {
      SetLastError(kWaitTimeout);
      return false;
    }
  }
  // Without process descriptors (old kernels) the wait cannot time out.
  pid_t done;
  while ((done = ::waitpid(processId, &status, 0)) < 0 && errno == EINTR) {
  }
  if (done < 0) {
    SetLastErrorFromErrno();
    return false;
  }
  exitCode = ExitCodeOf(status);
  return true;
}

bool SetExecuteBits(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  mode_t mode = st.st_mode & 07777;
  mode |= S_IXUSR | ((mode & (S_IRGRP | S_IROTH)) >> 2);
  if (::chmod(path.c_str(), mode) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

std::vector<std::string> ParseCommandLine(std::string_view line) {
  std::vector<std::string> argv;
  std::size_t i = 0;
  const std::size_t n = line.size();
  while (i < n && IsBlank(line[i])) ++i;
  if (i >= n) return argv;

  std::string program;
  if (line[i] == '"') {
    ++i;
    while (i < n && line[i] != '"') program += line[i++];
    if (i < n) ++i;
  } else {
    while (i < n && !IsBlank(line[i])) program += line[i++];
  }
  argv.push_back(std::move(program));

  for (;;) {
    while (i < n && IsBlank(line[i])) ++i;
    if (i >= n) break;
    std::string arg;
    bool quoted = false;
    while (i < n) {
      char c = line[i];
      if (IsBlank(c) && !quoted) break;
      if (c == '\\') {
        std::size_t count = 0;
        while (i < n && line[i] == '\\') {
          ++count;
          ++i;
        }
        if (i < n && line[i] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(count, '\\');
        }
        continue;
      }
      if (c == '"') {
        if (quoted && i + 1 < n && line[i + 1] == '"') {
          arg += '"';
          i += 2;
        } else {
          quoted = !quoted;
          ++i;
        }
        continue;
      }
      arg += c;
      ++i;
    }
    argv.push_back(std::move(arg));
  }
  return argv;
}

std::string BuildCommandLine(const std::vector<std::string>& argv) {
  std::string line;
  for (std::size_t index = 0; index < argv.size(); ++index) {
    const std::string& arg = argv[index];
    if (index > 0) line += ' ';
    bool needsQuotes = arg.empty() || arg.find_first_of(" \t\"") != std::string::npos;
    if (index == 0) {
      // The program name has no escapes: quotes can only group it.
      line += needsQuotes ? "\"" + arg + "\"" : arg;
      continue;
    }
    if (!needsQuotes) {
      line += arg;
      continue;
    }
    line += '"';
    std::size_t backslashes = 0;
    for (char c : arg) {
      if (c == '\\') {
        ++backslashes;
        continue;
      }
      if (c == '"') {
        line.append(backslashes * 2 + 1, '\\');
        line += '"';
      } else {
        line.append(backslashes, '\\');
        line += c;
      }
      backslashes = 0;
    }
    // Doubled so the closing quote is not escaped.
    line.append(backslashes * 2, '\\');
    line += '"';
  }
  return line;
}

}  // namespace platform
