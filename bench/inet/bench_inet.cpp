// Reads a large file from a local nginx through the library's calls (root,
// connect, request, send, reads of 8 KiB and 64 KiB) and with `curl -o /dev/null`
// in the same run, and reports throughput and client CPU per byte for each, with
// the library's ratios to curl.
//
//   bench_inet [--size-mib N] [--runs N]      self-contained comparison
//   bench_inet --read URL BLOCK               one library read (for external timers)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "platform/inet/InetClient.h"
#include "support/ChildProcess.h"
#include "support/NginxServer.h"
#include "support/TempDir.h"

namespace {

struct Sample {
  double wallSeconds;
  double cpuSeconds;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

double SelfCpu() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return Seconds(usage.ru_utime) + Seconds(usage.ru_stime);
}

// Reads the whole body of url in blocks; returns the byte count or -1.
long long LibraryRead(const std::string& url, DWORD block) {
  char host[256] = {};
  char path[2048] = {};
  URL_COMPONENTSA c{};
  c.dwStructSize = sizeof(c);
  c.lpszHostName = host;
  c.dwHostNameLength = sizeof(host);
  c.lpszUrlPath = path;
  c.dwUrlPathLength = sizeof(path);
  if (!InternetCrackUrlA(url.c_str(), 0, ICU_DECODE, &c)) return -1;
  HINTERNET root = InternetOpenA("bench", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0);
  HINTERNET connect = InternetConnectA(root, host, c.nPort, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0);
  HINTERNET request = HttpOpenRequestA(connect, "GET", path, nullptr, nullptr, nullptr,
                                       INTERNET_FLAG_NO_CACHE_WRITE, 0);
  long long total = -1;
  if (request && HttpSendRequestA(request, nullptr, 0, nullptr, 0)) {
    std::vector<char> buffer(block);
    total = 0;
    for (;;) {
      DWORD got = 0;
      if (!InternetReadFile(request, buffer.data(), block, &got)) {
        total = -1;
        break;
      }
      if (got == 0) break;
      total += got;
    }
  }
  InternetCloseHandle(root);
  return total;
}

Sample TimeLibrary(const std::string& url, DWORD block, long long expected) {
  double cpu = SelfCpu();
  auto start = std::chrono::steady_clock::now();
  long long got = LibraryRead(url, block);
  auto end = std::chrono::steady_clock::now();
  if (got != expected) {
    std::fprintf(stderr, "library read %lld bytes, expected %lld\n", got, expected);
    std::exit(1);
  }
  return {std::chrono::duration<double>(end - start).count(), SelfCpu() - cpu};
}

Sample TimeCurl(const std::string& url) {
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    execlp("curl", "curl", "-s", "-o", "/dev/null", url.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  auto end = std::chrono::steady_clock::now();
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "curl failed\n");
    std::exit(1);
  }
  return {std::chrono::duration<double>(end - start).count(),
          Seconds(usage.ru_utime) + Seconds(usage.ru_stime)};
}

Sample Median(std::vector<Sample> samples) {
  auto middle = samples.size() / 2;
  std::vector<double> wall;
  std::vector<double> cpu;
  for (const Sample& s : samples) {
    wall.push_back(s.wallSeconds);
    cpu.push_back(s.cpuSeconds);
  }
  std::sort(wall.begin(), wall.end());
  std::sort(cpu.begin(), cpu.end());
  return {wall[middle], cpu[middle]};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--read") {
    long long got = LibraryRead(argv[2], static_cast<DWORD>(std::atol(argv[3])));
    std::printf("%lld\n", got);
    return got < 0 ? 1 : 0;
  }
  long long sizeMib = 256;
  int runs = 5;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::string(argv[i]) == "--size-mib") sizeMib = std::atoll(argv[i + 1]);
    if (std::string(argv[i]) == "--runs") runs = std::atoi(argv[i + 1]);
  }
  if (!testing_support::NginxServer::Available()) {
    std::fprintf(stderr, "nginx is not installed\n");
    return 2;
  }
  testing_support::TempDir dir;
  const long long size = sizeMib * 1024 * 1024;
  {
    std::ofstream out(dir.File("big.bin"), std::ios::binary);
    std::string chunk = testing_support::RandomBytes(1 << 20, 1);
    for (long long i = 0; i < sizeMib; ++i) out.write(chunk.data(), static_cast<long>(chunk.size()));
  }
  testing_support::NginxOptions options;
  options.root = dir.Path();
  testing_support::NginxServer nginx(dir.File("nginx"), options);
  if (!nginx.Started()) {
    std::fprintf(stderr, "nginx did not start\n");
    return 2;
  }
  const std::string url = nginx.Url("/big.bin");

  // One warm-up of each so page cache and connections are alike.
  TimeLibrary(url, 65536, size);
  TimeCurl(url);
  std::vector<Sample> lib8;
  std::vector<Sample> lib64;
  std::vector<Sample> curl;
  for (int run = 0; run < runs; ++run) {
    lib8.push_back(TimeLibrary(url, 8192, size));
    lib64.push_back(TimeLibrary(url, 65536, size));
    curl.push_back(TimeCurl(url));
  }
  Sample m8 = Median(lib8);
  Sample m64 = Median(lib64);
  Sample mc = Median(curl);
  double mib = static_cast<double>(size) / (1024.0 * 1024.0);
  std::printf("file %lld MiB over loopback, median of %d runs\n", sizeMib, runs);
  std::printf("%-18s %12s %12s %14s\n", "reader", "MiB/s", "cpu s", "vs curl MiB/s");
  auto row = [&](const char* name, const Sample& s) {
    std::printf("%-18s %12.0f %12.3f %13.0f%%\n", name, mib / s.wallSeconds, s.cpuSeconds,
                100.0 * mc.wallSeconds / s.wallSeconds);
  };
  row("library 8 KiB", m8);
  row("library 64 KiB", m64);
  row("curl -o /dev/null", mc);
  std::printf("cpu ratio library/curl: 8 KiB %.2f, 64 KiB %.2f\n", m8.cpuSeconds / mc.cpuSeconds,
              m64.cpuSeconds / mc.cpuSeconds);
  return 0;
}
