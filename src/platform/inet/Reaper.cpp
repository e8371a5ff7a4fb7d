#include "platform/inet/Reaper.h"

#include <pthread.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace inet {
namespace {

struct Doomed {
  CURL* easy;
  bool attached;
  std::unique_ptr<PoolEntry> entry;
  std::shared_ptr<InetObject> root;
};

class ReaperQueue {
 public:
  void Push(Doomed doomed) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.push_back(std::move(doomed));
      if (!started_) {
        started_ = true;
        std::thread([this] { Run(); }).detach();
      }
    }
    ready_.notify_one();
  }

 private:
  void Run() {
    // Named so that a look at the process's threads tells it from the
    // transfer threads that come and go.
    pthread_setname_np(pthread_self(), "inet-reaper");
    for (;;) {
      Doomed doomed;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !queue_.empty(); });
        doomed = std::move(queue_.front());
        queue_.pop_front();
      }
      if (doomed.attached && doomed.entry) curl_multi_remove_handle(doomed.entry->multi, doomed.easy);
      if (doomed.easy != nullptr) curl_easy_cleanup(doomed.easy);
      if (doomed.root && doomed.entry) {
        static_cast<RootObject&>(*doomed.root).Return(std::move(doomed.entry));
      }
      // The entry (if not pooled) and the last reference to the root may go here.
    }
  }

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Doomed> queue_;  // guarded by mutex_
  bool started_ = false;      // guarded by mutex_
};

ReaperQueue& Queue() {
  static ReaperQueue* queue = new ReaperQueue();  // the detached thread uses it until exit
  return *queue;
}

}  // namespace

void Reap(CURL* easy, bool attached, std::unique_ptr<PoolEntry> entry,
          std::shared_ptr<InetObject> root) {
  Queue().Push(Doomed{easy, attached, std::move(entry), std::move(root)});
}

}  // namespace inet
