#include "common/parallel.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <new>
#include <system_error>

#if !defined(_WIN32)
#include <pthread.h>
#endif

namespace kestrova::helpers {
namespace {

// The kept threads and the jobs waiting for one. A job leaves the queue when a thread
// takes it or its waiter takes it back, so the queue never holds work already done.
// One lock and two conditions serve every job.
class Helpers {
 public:
  static Helpers& Shared() {
    static const bool once = [] {
#if !defined(_WIN32)
      // A child of fork has none of the threads: it starts from an empty set. The old
      // one is left as it is, its lock perhaps held by a thread the child lacks.
      ::pthread_atfork(nullptr, nullptr, [] { shared_.store(new Helpers); });
#endif
      shared_.store(new Helpers);  // kept to the end: threads may still wait on it
      return true;
    }();
    (void)once;
    return *shared_.load();
  }

  void Post(const std::shared_ptr<Job>& job) {
    std::unique_lock lock(mutex);
    try {
      queue_.push_back(job);
    } catch (const std::bad_alloc&) {
      lock.unlock();
      job->Run();  // no room to queue it: done here, at once
      return;
    }
    if (queue_.size() <= free_ + starting_) {
      lock.unlock();
      posted_.notify_one();
      return;
    }
    ++starting_;
    lock.unlock();
    try {
      std::thread([this] { Serve(); }).detach();
    } catch (...) {
      // No thread to be had (none left, or no memory for one): the job waits for a free
      // one, or for its waiter.
      std::lock_guard relock(mutex);
      --starting_;
    }
  }

  // Removes a job not yet begun from the queue; the caller holds the lock.
  bool TakeBack(const Job* job) {
    const auto found =
        std::find_if(queue_.begin(), queue_.end(),
                     [job](const std::shared_ptr<Job>& j) { return j.get() == job; });
    if (found == queue_.end()) return false;
    queue_.erase(found);
    return true;
  }

  std::mutex mutex;
  std::condition_variable finished;  // some job is done

 private:
  void Serve() {
    std::unique_lock lock(mutex);
    --starting_;
    for (;;) {
      ++free_;
      posted_.wait(lock, [this] { return !queue_.empty(); });
      --free_;
      std::shared_ptr<Job> job = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      job->Run();
      job.reset();  // what it holds goes before the thread waits again
      lock.lock();
    }
  }

  static inline std::atomic<Helpers*> shared_{nullptr};

  std::condition_variable posted_;
  std::deque<std::shared_ptr<Job>> queue_;
  size_t free_ = 0;      // threads waiting for work
  size_t starting_ = 0;  // threads started and not yet waiting
};

}  // namespace

void Job::Run() noexcept {
  try {
    Do();
  } catch (...) {
    failure_ = std::current_exception();
  }
  Helpers& helpers = Helpers::Shared();
  {
    std::lock_guard lock(helpers.mutex);
    done_ = true;
  }
  helpers.finished.notify_all();  // whoever waits owns the job as well
}

void Job::Wait() {
  Helpers& helpers = Helpers::Shared();
  std::unique_lock lock(helpers.mutex);
  if (done_) return;
  if (helpers.TakeBack(this)) {
    lock.unlock();
    Run();
    return;
  }
  helpers.finished.wait(lock, [this] { return done_; });
}

void Post(const std::shared_ptr<Job>& job) {
  Helpers::Shared().Post(job);
}

}  // namespace kestrova::helpers
