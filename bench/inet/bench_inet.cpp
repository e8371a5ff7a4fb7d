// Reads a large file from a local nginx in 8 KiB and 64 KiB blocks
//   - through the library's own calls (root, connect, request, send, reads), and
//   - through actions fired on a TclInternetConnection, as a download worker does,
// and with `curl -o /dev/null`, all in the same run, interleaved run by run. It
// reports each reader's throughput and client CPU time, and its ratios to curl
// taken pair by pair (same run), so that drift of a shared machine cancels out.
// Two more rows repeat the connection's reads with the client's threads kept on
// one core, and the last line splits the cost of one 8 KiB read, to show where
// the connection's time goes.
//
//   bench_inet [--size-mib N] [--runs N] [--timeout MS]   self-contained comparison
//   bench_inet --serve [--size-mib N]                     serve the file until a signal
//   bench_inet --read URL BLOCK                           one library read
//   bench_inet --read-connection URL BLOCK [--timeout MS] one connection read
//   bench_inet --empty-fires N [--timeout MS]             N fires of an empty action
// The last four are for timing (or profiling) one piece with an outside tool.
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "FireCost.h"
#include "Measure.h"
#include "Readers.h"
#include "ServedFile.h"

namespace {

// The download worker's default limit for each action.
constexpr int kDefaultTimeOut = 5000;

struct Options {
  std::string mode = "compare";
  std::string url;
  long long block = 0;
  long long sizeMib = 256;
  int runs = 5;
  int timeOut = kDefaultTimeOut;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr,
               "%s\nusage: bench_inet [--size-mib N] [--runs N] [--timeout MS]\n"
               "       bench_inet --serve [--size-mib N]\n"
               "       bench_inet --read URL BLOCK\n"
               "       bench_inet --read-connection URL BLOCK [--timeout MS]\n"
               "       bench_inet --empty-fires N [--timeout MS]\n",
               problem.c_str());
  std::exit(2);
}

long long Positive(const std::string& name, const char* text) {
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (end == text || *end != '\0' || value <= 0) Usage(name + " needs a positive number, not \"" + text + "\"");
  return value;
}

Options Parse(int argc, char** argv) {
  Options o;
  std::vector<std::string> args(argv + 1, argv + argc);
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= args.size()) Usage(a + " needs a value");
      return args[++i].c_str();
    };
    if (a == "--size-mib") {
      o.sizeMib = Positive(a, value());
    } else if (a == "--runs") {
      o.runs = static_cast<int>(Positive(a, value()));
    } else if (a == "--timeout") {
      o.timeOut = static_cast<int>(Positive(a, value()));
    } else if (a == "--empty-fires" && o.mode == "compare") {
      o.mode = "empty-fires";
      o.block = Positive(a, value());
    } else if (a == "--serve" && o.mode == "compare") {
      o.mode = "serve";
    } else if ((a == "--read" || a == "--read-connection") && o.mode == "compare") {
      o.mode = a.substr(2);
      o.url = value();
      o.block = Positive("BLOCK", value());
    } else {
      Usage("unexpected argument \"" + a + "\"");
    }
  }
  if (o.block > 0x7fffffff) Usage("BLOCK is too large");
  return o;
}

int ReadOnce(const Options& o) {
  const auto block = static_cast<DWORD>(o.block);
  const long long got =
      o.mode == "read" ? bench::LibraryRead(o.url, block) : bench::ConnectionRead(o.url, block, o.timeOut);
  std::printf("%lld\n", got);
  return got < 0 ? 1 : 0;
}

int Serve(const Options& o) {
  // Blocked before the server starts, so that a signal ends the wait below and
  // the destructors stop nginx and remove the file.
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  bench::ServedFile file(o.sizeMib);
  if (!file.Started()) {
    std::fprintf(stderr, "%s\n", file.Problem().c_str());
    return 2;
  }
  std::printf("%s\n", file.Url().c_str());
  std::fflush(stdout);
  int received = 0;
  sigwait(&signals, &received);
  return 0;
}

struct Reader {
  std::string name;
  std::function<long long()> read;
  double goalPercent;  // of curl's throughput; 0 = none
  std::vector<bench::Sample> samples;
};

double MedianOf(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

int Compare(const Options& o) {
  bench::ServedFile file(o.sizeMib);
  if (!file.Started()) {
    std::fprintf(stderr, "%s\n", file.Problem().c_str());
    return 2;
  }
  const std::string url = file.Url();
  const int timeOut = o.timeOut;
  std::vector<Reader> readers{
      {"library 8 KiB", [&] { return bench::LibraryRead(url, 8192); }, 90, {}},
      {"library 64 KiB", [&] { return bench::LibraryRead(url, 65536); }, 90, {}},
      {"connection 8 KiB", [&] { return bench::ConnectionRead(url, 8192, timeOut); }, 0, {}},
      {"connection 64 KiB", [&] { return bench::ConnectionRead(url, 65536, timeOut); }, 70, {}},
      // Diagnostic rows, not goals: the same reads with client threads on one core.
      {"  one core, 8 KiB", [&] { return bench::ConnectionReadOnOneCore(url, 8192, timeOut); }, 0, {}},
      {"  one core, 64 KiB", [&] { return bench::ConnectionReadOnOneCore(url, 65536, timeOut); }, 0, {}},
  };
  std::vector<bench::Sample> curl;
  std::vector<bench::Sample> curlTiny;

  // One warm-up of each, so the page cache and the loaded code are alike.
  for (Reader& r : readers) bench::TimeInProcess(r.name, r.read, file.Size());
  bench::TimeCurl(url);
  for (int run = 0; run < o.runs; ++run) {
    for (Reader& r : readers) r.samples.push_back(bench::TimeInProcess(r.name, r.read, file.Size()));
    curl.push_back(bench::TimeCurl(url));
    curlTiny.push_back(bench::TimeCurl(file.TinyUrl()));
  }

  const double mib = static_cast<double>(file.Size()) / (1024.0 * 1024.0);
  const bench::Sample mc = bench::Median(curl);
  std::printf("file %lld MiB from nginx over loopback; medians of %d runs; ratios to curl pair by pair\n",
              o.sizeMib, o.runs);
  std::printf("%-18s %8s %8s %22s %10s %s\n", "reader", "MiB/s", "cpu s", "MiB/s vs curl (range)", "cpu/curl",
              "goal");
  for (const Reader& r : readers) {
    std::vector<double> speed;
    std::vector<double> cpu;
    for (std::size_t i = 0; i < curl.size(); ++i) {
      speed.push_back(100.0 * curl[i].wallSeconds / r.samples[i].wallSeconds);
      cpu.push_back(r.samples[i].cpuSeconds / curl[i].cpuSeconds);
    }
    const bench::Sample m = bench::Median(r.samples);
    const double ratio = MedianOf(speed);
    char range[48];
    std::snprintf(range, sizeof(range), "%.0f%% (%.0f-%.0f%%)", ratio, *std::min_element(speed.begin(), speed.end()),
                  *std::max_element(speed.begin(), speed.end()));
    std::string goal = "-";
    if (r.goalPercent > 0) {
      goal = (ratio >= r.goalPercent ? "met (>= " : "MISSED (>= ") + std::to_string(static_cast<int>(r.goalPercent)) +
             "%)";
    }
    std::printf("%-18s %8.0f %8.3f %22s %10.2f %s\n", r.name.c_str(), mib / m.wallSeconds, m.cpuSeconds, range,
                MedianOf(cpu), goal.c_str());
  }
  std::printf("%-18s %8.0f %8.3f\n", "curl -o /dev/null", mib / mc.wallSeconds, mc.cpuSeconds);
  // curl's times include starting a process; the readers above run in this one.
  const bench::Sample tiny = bench::Median(curlTiny);
  std::printf("curl's fixed cost (a one-byte file): %.1f ms wall, %.1f ms cpu\n", 1e3 * tiny.wallSeconds,
              1e3 * tiny.cpuSeconds);

  // What the connection adds per read: an action that does nothing, fired as
  // often as the 8 KiB reader fires its reads, on any cores and on one core.
  const long long fires = file.Size() / 8192;
  std::vector<bench::Sample> empty;
  std::vector<bench::Sample> emptyOneCore;
  for (int run = 0; run < o.runs; ++run) {
    empty.push_back(bench::TimeEmptyFires(fires, timeOut));
    emptyOneCore.push_back(bench::TimeEmptyFires(fires, timeOut, true));
  }
  auto perRead = [fires](const char* name, const std::vector<bench::Sample>& samples) {
    const bench::Sample m = bench::Median(samples);
    std::printf("  %-28s %6.1f wall %6.1f cpu\n", name, 1e6 * m.wallSeconds / static_cast<double>(fires),
                1e6 * m.cpuSeconds / static_cast<double>(fires));
  };
  std::printf("per 8 KiB read, microseconds:\n");
  perRead("library call", readers[0].samples);
  perRead("read through the connection", readers[2].samples);
  perRead("  on one core", readers[4].samples);
  perRead("empty fire", empty);
  perRead("  on one core", emptyOneCore);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = Parse(argc, argv);
  if (o.mode == "serve") return Serve(o);
  if (o.mode == "empty-fires") {
    const bench::Sample s = bench::TimeEmptyFires(o.block, o.timeOut);
    std::printf("%lld fires: %.3f s wall, %.3f s cpu\n", o.block, s.wallSeconds, s.cpuSeconds);
    return 0;
  }
  if (o.mode == "read" || o.mode == "read-connection") return ReadOnce(o);
  return Compare(o);
}
