#include "Measure.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace bench {
namespace {

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

double SelfCpu() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

double MedianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

Sample TimeInProcess(const std::string& name, const std::function<long long()>& read, long long expected) {
  const double cpu = SelfCpu();
  const auto start = std::chrono::steady_clock::now();
  const long long got = read();
  const auto end = std::chrono::steady_clock::now();
  if (got != expected) {
    std::fprintf(stderr, "%s read %lld bytes, expected %lld\n", name.c_str(), got, expected);
    std::exit(1);
  }
  return {std::chrono::duration<double>(end - start).count(), SelfCpu() - cpu};
}

Sample TimeCurl(const std::string& url) {
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid == 0) {
    execlp("curl", "curl", "-s", "-o", "/dev/null", url.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "curl failed (is it installed?)\n");
    std::exit(1);
  }
  const auto end = std::chrono::steady_clock::now();
  return {std::chrono::duration<double>(end - start).count(), Seconds(usage.ru_utime) + Seconds(usage.ru_stime)};
}

Sample Median(const std::vector<Sample>& samples) {
  std::vector<double> wall;
  std::vector<double> cpu;
  for (const Sample& s : samples) {
    wall.push_back(s.wallSeconds);
    cpu.push_back(s.cpuSeconds);
  }
  return {MedianOf(wall), MedianOf(cpu)};
}

KeepToOneCore::KeepToOneCore() {
  saved_ = sched_getaffinity(0, sizeof(former_), &former_) == 0;
  const int core = sched_getcpu();
  if (!saved_ || core < 0) return;
  cpu_set_t one;
  CPU_ZERO(&one);
  CPU_SET(core, &one);
  if (sched_setaffinity(0, sizeof(one), &one) != 0) std::fprintf(stderr, "cannot keep to one core\n");
}

KeepToOneCore::~KeepToOneCore() {
  if (saved_) sched_setaffinity(0, sizeof(former_), &former_);
}

}  // namespace bench
