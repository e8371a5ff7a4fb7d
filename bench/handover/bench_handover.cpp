// What one synchronised call from a worker to a message-pumping thread costs,
// beside the cheapest blocking hand-overs two threads can make: a bare futex
// ping-pong and a bare eventfd ping-pong. Each iteration is one round trip.
//
// The pumping thread creates the synchroniser and serves it the ways the
// programs do:
//   MessageLoop     WaitMessage(100 ms) then ProcessMessages, multidl's loop;
//   ServingWait     WaitServingMessages on a handle, the worker-waiting routine;
//   QueueDescriptor poll() on the queue's descriptor then ProcessMessages, as a
//                   toolkit's main loop (the GTK front-end) does.
// Each runs with both threads free, on one core, and on two different cores.
// The last lines print each median beside the futex floor of the same placement.
//
//   bench_handover [Google Benchmark flags, e.g. --benchmark_filter=Futex]
#include <benchmark/benchmark.h>
#include <linux/futex.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "base/ThreadSynchronizer.h"
#include "platform/Messages.h"
#include "platform/Waits.h"

namespace {

enum Placement : int { kFree = 0, kOneCore = 1, kTwoCores = 2 };
const char* const kPlacementNames[] = {"free", "one_core", "two_cores"};

enum Pump : int { kMessageLoop = 0, kServingWait = 1, kQueueDescriptor = 2 };

// Pins the calling thread and the partner for the placement; gives the calling
// thread its old processors back when it goes.
class Pinning {
 public:
  Pinning(Placement placement, std::thread& partner) {
    sched_getaffinity(0, sizeof original_, &original_);
    if (placement == kFree || CPU_COUNT(&original_) < 2) return;
    int first = -1, second = -1;
    for (int cpu = 0; cpu < CPU_SETSIZE && second < 0; ++cpu) {
      if (!CPU_ISSET(cpu, &original_)) continue;
      (first < 0 ? first : second) = cpu;
    }
    Pin(pthread_self(), first);
    Pin(partner.native_handle(), placement == kOneCore ? first : second);
    pinned_ = true;
  }
  ~Pinning() {
    if (pinned_) pthread_setaffinity_np(pthread_self(), sizeof original_, &original_);
  }
  Pinning(const Pinning&) = delete;
  Pinning& operator=(const Pinning&) = delete;

 private:
  static void Pin(pthread_t thread, int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(thread, sizeof set, &set);
  }
  cpu_set_t original_{};
  bool pinned_ = false;
};

long Futex(std::atomic<int>* word, int op, int value) {
  return ::syscall(SYS_futex, reinterpret_cast<int*>(word), op | FUTEX_PRIVATE_FLAG, value, nullptr,
                   nullptr, 0);
}

// The word says whose turn it is: 0 the partner waits, 1 the partner answers,
// 2 the partner ends. Every turn wakes the other side, as a blocking hand-over must.
void BM_FutexPingPong(benchmark::State& state) {
  std::atomic<int> turn{0};
  std::thread partner([&] {
    for (;;) {
      int seen;
      while ((seen = turn.load()) == 0) Futex(&turn, FUTEX_WAIT, 0);
      if (seen == 2) return;
      turn.store(0);
      Futex(&turn, FUTEX_WAKE, 1);
    }
  });
  {
    Pinning pinning(static_cast<Placement>(state.range(0)), partner);
    for (auto _ : state) {
      turn.store(1);
      Futex(&turn, FUTEX_WAKE, 1);
      while (turn.load() == 1) Futex(&turn, FUTEX_WAIT, 1);
    }
  }
  turn.store(2);
  Futex(&turn, FUTEX_WAKE, 1);
  partner.join();
}

void BM_EventfdPingPong(benchmark::State& state) {
  const int ping = ::eventfd(0, EFD_CLOEXEC);
  const int pong = ::eventfd(0, EFD_CLOEXEC);
  std::atomic<bool> stop{false};
  std::thread partner([&] {
    std::uint64_t value;
    while (::read(ping, &value, sizeof value) == sizeof value && !stop.load()) {
      value = 1;
      [[maybe_unused]] auto n = ::write(pong, &value, sizeof value);
    }
  });
  {
    Pinning pinning(static_cast<Placement>(state.range(0)), partner);
    std::uint64_t value = 1;
    for (auto _ : state) {
      value = 1;
      [[maybe_unused]] auto w = ::write(ping, &value, sizeof value);
      [[maybe_unused]] auto r = ::read(pong, &value, sizeof value);
    }
  }
  stop.store(true);
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(ping, &one, sizeof one);
  partner.join();
  ::close(ping);
  ::close(pong);
}

// The pumping thread: owns the synchroniser and serves it until told to stop.
class PumpThread {
 public:
  explicit PumpThread(Pump pump) : stopEvent_(platform::CreateEvent(true, false)) {
    auto ready = platform::CreateEvent(true, false);
    thread_ = std::thread([this, pump, ready] {
      sync_ = std::make_unique<TclThreadSynchronizer>();
      ready->Set();
      Serve(pump);
      sync_.reset();
      platform::ProcessMessages();  // the synchroniser's release
    });
    platform::WaitForSingleObject(ready, platform::kInfinite);
  }
  ~PumpThread() {
    // The flag, set by a last call on the pumping thread, ends the loops that
    // pump; the event ends the serving wait. The synchroniser is not touched
    // once the call has returned.
    sync_->Synchronize([this] { stop_.store(true); });
    stopEvent_->Set();
    thread_.join();
  }
  PumpThread(const PumpThread&) = delete;
  PumpThread& operator=(const PumpThread&) = delete;

  std::thread& Thread() { return thread_; }
  TclThreadSynchronizer& Synchronizer() { return *sync_; }

 private:
  void Serve(Pump pump) {
    switch (pump) {
      case kMessageLoop:
        while (!stop_.load()) {
          platform::WaitMessage(100);
          platform::ProcessMessages();
        }
        break;
      case kServingWait:
        platform::WaitServingMessages(stopEvent_, platform::kInfinite);
        break;
      case kQueueDescriptor: {
        pollfd queue{platform::QueueFileDescriptor(), POLLIN, 0};
        while (!stop_.load()) {
          ::poll(&queue, 1, 100);
          platform::ProcessMessages();
        }
        break;
      }
    }
  }

  std::atomic<bool> stop_{false};
  std::shared_ptr<platform::Event> stopEvent_;
  std::unique_ptr<TclThreadSynchronizer> sync_;
  std::thread thread_;
};

void BM_Synchronize(benchmark::State& state) {
  PumpThread pump(static_cast<Pump>(state.range(0)));
  std::uint64_t handled = 0;  // touched only on the pumping thread, published by the call
  const TclThreadSynchronizer::TclMethod method = [&handled] { ++handled; };
  {
    Pinning pinning(static_cast<Placement>(state.range(1)), pump.Thread());
    for (auto _ : state) pump.Synchronizer().Synchronize(method);
  }
  if (handled != static_cast<std::uint64_t>(state.iterations())) state.SkipWithError("calls were lost");
}

void Placements(benchmark::internal::Benchmark* b) {
  b->ArgName("placement");
  for (int p : {kFree, kOneCore, kTwoCores}) b->Arg(p);
}

void PumpsAndPlacements(benchmark::internal::Benchmark* b) {
  b->ArgNames({"pump", "placement"});
  for (int pump : {kMessageLoop, kServingWait, kQueueDescriptor}) {
    for (int p : {kFree, kOneCore, kTwoCores}) b->Args({pump, p});
  }
}

constexpr int kRepetitions = 7;

BENCHMARK(BM_FutexPingPong)->Apply(Placements)->UseRealTime()->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->MinTime(0.2);
BENCHMARK(BM_EventfdPingPong)->Apply(Placements)->UseRealTime()->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->MinTime(0.2);
BENCHMARK(BM_Synchronize)->Apply(PumpsAndPlacements)->UseRealTime()->Unit(benchmark::kMicrosecond)
    ->Repetitions(kRepetitions)->ReportAggregatesOnly(true)->MinTime(0.2);

// Keeps the medians, then prints each beside the futex floor of its placement.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.aggregate_name == "median" && !run.error_occurred)
        medians_[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedRealTime();
    }
  }

  // Each median beside the futex floor of its own placement and beside the
  // cheapest floor of the run (one core: no processor has to wake up).
  void Summarize() const {
    auto find = [this](const std::string& name) {
      auto it = medians_.find(name);
      return it == medians_.end() ? -1.0 : it->second;
    };
    const double cheapest = find("BM_FutexPingPong/placement:" + std::to_string(kOneCore));
    std::printf("\nmedian round trip in microseconds; x floor: over the futex ping-pong of the same\n"
                "placement; x one-core floor: over the futex ping-pong on one core\n");
    for (int p : {kFree, kOneCore, kTwoCores}) {
      const std::string suffix = "placement:" + std::to_string(p);
      const double floor = find("BM_FutexPingPong/" + suffix);
      if (floor < 0) continue;
      std::printf("%-10s %-21s %8.2f\n", kPlacementNames[p], "futex", floor);
      const std::pair<const char*, std::string> rows[] = {
          {"eventfd", "BM_EventfdPingPong/" + suffix},
          {"sync MessageLoop", "BM_Synchronize/pump:0/" + suffix},
          {"sync ServingWait", "BM_Synchronize/pump:1/" + suffix},
          {"sync QueueDescriptor", "BM_Synchronize/pump:2/" + suffix}};
      for (const auto& [label, name] : rows) {
        const double median = find(name);
        if (median < 0) continue;
        std::printf("%-10s %-21s %8.2f  %6.2fx floor", "", label, median, median / floor);
        if (cheapest > 0) std::printf("  %6.2fx one-core floor", median / cheapest);
        std::printf("\n");
      }
    }
  }

 private:
  std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.Summarize();
  benchmark::Shutdown();
  return 0;
}
