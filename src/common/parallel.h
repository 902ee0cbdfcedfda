#pragma once

#include <algorithm>
#include <cstddef>
#include <exception>
#include <memory>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace kestrova {

// The cores the work may spread over, at least one. Asked once: the library reads a
// system file each time, and the readers and writers ask for every range.
inline size_t Cores() {
  static const size_t cores = std::max(1u, std::thread::hardware_concurrency());
  return cores;
}

namespace helpers {

// A piece of work for one of the threads the program keeps. Whoever waits for it and
// finds it not yet begun takes it back and does it there: a wait never depends on a
// thread being free, and work handed on where no thread could be started is still done.
class Job {
 public:
  virtual ~Job() = default;
  // Does the work once, keeping what it throws.
  void Run() noexcept;
  // Until the work is done, doing it here if no thread has begun it.
  void Wait();
  // What the work threw, once waited for.
  std::exception_ptr Failure() const { return failure_; }

 protected:
  virtual void Do() = 0;

 private:
  // Both under the lock all jobs share: a job has no lock or condition of its own, which
  // under Windows would be kernel objects made and closed for every job.
  bool done_ = false;
  std::exception_ptr failure_;
};

// Hands a job to a free thread, starting one if none is free; without memory to queue
// it, does it at once. The threads are kept for the program's life: a thread costs some
// 40 µs to start on Linux and a millisecond under Wine, and a large site hands on
// hundreds of batches.
void Post(const std::shared_ptr<Job>& job);

// A job with its result.
template <class T>
class Outcome : public Job {
 public:
  std::optional<T> result;
};

template <>
class Outcome<void> : public Job {};

template <class F, class T>
class Function final : public Outcome<T> {
 public:
  explicit Function(F f) : f_(std::move(f)) {}

 private:
  void Do() override {
    if constexpr (std::is_void_v<T>) {
      f_();
    } else {
      this->result.emplace(f_());
    }
  }
  F f_;
};

}  // namespace helpers

// Work going on beside the caller's, as std::async would run it, on a kept thread. Like
// std::async's future, the handle ends by waiting; it may also be copied, as a shared
// future is, and each copy waited for.
template <class T>
class Aside {
 public:
  Aside() = default;
  Aside(const Aside&) = default;
  Aside(Aside&&) noexcept = default;
  Aside& operator=(const Aside& other) {
    if (this != &other) {
      wait();
      job_ = other.job_;
    }
    return *this;
  }
  Aside& operator=(Aside&& other) {
    if (this != &other) {
      wait();
      job_ = std::move(other.job_);
    }
    return *this;
  }
  ~Aside() { wait(); }

  bool valid() const { return job_ != nullptr; }
  void wait() const {
    if (job_) job_->Wait();
  }
  // The work's result, or what it threw; the handle is then empty, as a future is. The
  // result is moved out: of copies, only the first to get it has it.
  T get() {
    const std::shared_ptr<helpers::Outcome<T>> job = std::move(job_);
    job->Wait();
    if (job->Failure()) std::rethrow_exception(job->Failure());
    if constexpr (!std::is_void_v<T>) return std::move(*job->result);
  }

 private:
  template <class F>
  friend Aside<std::invoke_result_t<F&>> RunAside(F f);
  explicit Aside(std::shared_ptr<helpers::Outcome<T>> job) : job_(std::move(job)) {}

  std::shared_ptr<helpers::Outcome<T>> job_;
};

// Starts f() beside the caller; the returned handle waits for it.
template <class F>
Aside<std::invoke_result_t<F&>> RunAside(F f) {
  using T = std::invoke_result_t<F&>;
  auto job = std::make_shared<helpers::Function<F, T>>(std::move(f));
  helpers::Post(job);
  return Aside<T>(std::move(job));
}

// Runs fill(begin, end) over [0, n) in a few ranges at once, one per core, when n is
// large enough to be worth it; sites reach millions of points and labels. fill must
// only touch what its own range owns. The first exception of any range is rethrown
// after all ranges have finished.
template <class Fill>
void FillInRanges(size_t n, const Fill& fill, size_t minimumPerRange = 25'000) {
  const size_t parts =
      std::clamp<size_t>(n / std::max<size_t>(minimumPerRange, 1), 1, std::min<size_t>(Cores(), 8));
  if (parts == 1) {
    fill(size_t{0}, n);
    return;
  }
  const size_t chunk = (n + parts - 1) / parts;
  const auto range = [&](size_t i) { fill(std::min(n, i * chunk), std::min(n, (i + 1) * chunk)); };
  const auto rangeCall = [&range](size_t i) { return [&range, i] { range(i); }; };
  using Range = helpers::Function<decltype(rangeCall(0)), void>;
  std::vector<std::shared_ptr<Range>> helped;
  std::exception_ptr failure;
  try {
    helped.reserve(parts - 1);
    for (size_t i = 1; i < parts; ++i) {
      helped.push_back(std::make_shared<Range>(rangeCall(i)));
      helpers::Post(helped.back());
    }
    range(0);
  } catch (...) {
    failure = std::current_exception();  // the ranges handed on use this frame: waited for
  }
  for (const std::shared_ptr<Range>& h : helped) {
    h->Wait();
    if (!failure) failure = h->Failure();
  }
  if (failure) std::rethrow_exception(failure);
}

// Runs make(part, begin, end) for each of parts shares of [0, n), the first ones a
// share larger where n does not divide evenly, the parts spread over the cores; a part
// may be empty. Texts made a share at a time are then written in the parts' order.
template <class Make>
void InShares(size_t n, size_t parts, const Make& make) {
  const size_t share = (n + parts - 1) / std::max<size_t>(parts, 1);
  FillInRanges(
      parts,
      [&](size_t first, size_t last) {
        for (size_t part = first; part < last; ++part)
          make(part, std::min(n, part * share), std::min(n, (part + 1) * share));
      },
      1);
}

}  // namespace kestrova
