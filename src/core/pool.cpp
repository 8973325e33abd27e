// Worker pool: lazily created, halving work split with idle-driven further splits, fork-safe.
#include "core/pool.hpp"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/panic.hpp"

namespace tazmir {

namespace {

struct Range {
  std::size_t lo;
  std::size_t hi;
  unsigned depth;
};

struct Job {
  Job(RangeBody fn, std::size_t min_part) : body(fn), grain(min_part) {}
  RangeBody body;
  std::size_t grain;
  unsigned initial_depth = 0;  // halvings that give about one part per thread
  std::vector<Range> pending;  // guarded by the pool mutex
  std::size_t remaining = 0;   // indices not yet finished; guarded by the pool mutex
  std::size_t inside = 0;      // threads currently inside this job; guarded by the pool mutex
  std::atomic<std::size_t> idle{0};
  std::atomic<bool> failed{false};
  std::exception_ptr error;  // first failure; guarded by the pool mutex
};

// Set on workers for good and on a caller while its loop runs: a nested loop runs inline.
thread_local bool in_parallel_loop = false;

class WorkerPool {
 public:
  explicit WorkerPool(std::size_t threads) : thread_count_(threads) {
    // Workers never take signals: SIGINT and friends must reach the interpreter's thread.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
      for (std::size_t i = 1; i < threads; ++i) {
        workers_.emplace_back([this, i] { worker_main(i); });
      }
    } catch (const std::system_error&) {
      // Fewer threads than asked for still gives the same results.
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    thread_count_ = workers_.size() + 1;
    for (auto& worker : workers_) worker.detach();
  }

  std::size_t thread_count() const { return thread_count_; }

  void run(std::size_t begin, std::size_t end, std::size_t grain, RangeBody body) {
    std::lock_guard submit(submit_mutex_);  // one loop at a time; calls hold the GIL anyway
    Job job{body, grain};
    job.remaining = end - begin;
    while ((std::size_t{1} << job.initial_depth) < thread_count_) ++job.initial_depth;
    job.pending.push_back({begin, end, 0});

    std::unique_lock lock(mutex_);
    job_ = &job;
    ++generation_;
    job.inside = 1;
    wake_.notify_all();
    participate(job, lock);
    --job.inside;
    left_.wait(lock, [&] { return job.inside == 0; });
    job_ = nullptr;
    lock.unlock();
    if (job.error) std::rethrow_exception(job.error);
  }

 private:
  void worker_main(std::size_t index) {
    in_parallel_loop = true;
    set_thread_name("tazmir-worker-" + std::to_string(index));
    std::unique_lock lock(mutex_);
    std::uint64_t seen = 0;
    for (;;) {
      wake_.wait(lock, [&] { return job_ != nullptr && generation_ != seen; });
      seen = generation_;
      Job& job = *job_;
      ++job.inside;
      participate(job, lock);
      if (--job.inside == 0) left_.notify_all();
    }
  }

  // Takes ranges until every index of the job is finished. Called with the lock held.
  void participate(Job& job, std::unique_lock<std::mutex>& lock) {
    while (job.remaining != 0) {
      if (job.pending.empty()) {
        job.idle.fetch_add(1, std::memory_order_relaxed);
        wake_.wait(lock, [&] { return job.remaining == 0 || !job.pending.empty(); });
        job.idle.fetch_sub(1, std::memory_order_relaxed);
        continue;
      }
      Range range = job.pending.back();
      job.pending.pop_back();
      lock.unlock();
      const std::size_t done = process(job, range);
      lock.lock();
      job.remaining -= done;
      if (job.remaining == 0) wake_.notify_all();
    }
  }

  // Splits off upper halves for other threads while that helps, then runs the lower part.
  // Returns the number of indices it ran (the halves it split off are counted by their taker).
  std::size_t process(Job& job, Range range) {
    const std::size_t grain = job.grain == 0 ? 1 : job.grain;
    while (range.hi - range.lo > grain &&
           (range.depth < job.initial_depth || job.idle.load(std::memory_order_relaxed) > 0)) {
      const std::size_t mid = range.lo + (range.hi - range.lo) / 2;
      {
        std::lock_guard guard(mutex_);
        job.pending.push_back({mid, range.hi, range.depth + 1});
      }
      wake_.notify_all();
      range = {range.lo, mid, range.depth + 1};
    }
    if (job.failed.load(std::memory_order_relaxed)) return range.hi - range.lo;
    try {
      job.body(range.lo, range.hi);
    } catch (...) {
      std::lock_guard guard(mutex_);
      if (!job.error) job.error = std::current_exception();
      job.failed.store(true, std::memory_order_relaxed);
    }
    return range.hi - range.lo;
  }

  std::size_t thread_count_;
  std::vector<std::thread> workers_;
  std::mutex submit_mutex_;
  std::mutex mutex_;
  std::condition_variable wake_;  // new job, new pending ranges, or job finished
  std::condition_variable left_;  // a thread left the current job
  Job* job_ = nullptr;
  std::uint64_t generation_ = 0;
};

std::size_t configured_thread_count() {
  if (const char* text = std::getenv("TAZMIR_NUM_THREADS")) {
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (end != text && *end == '\0' && text[0] != '-' && value > 0 && value <= 1024) {
      return static_cast<std::size_t>(value);
    }
  }
  const unsigned hardware = std::thread::hardware_concurrency();
  return hardware == 0 ? 1 : hardware;
}

std::mutex pool_mutex;
WorkerPool* pool = nullptr;  // never destroyed: detached workers may outlive static teardown

// A forked child has none of the parent's workers; it abandons the old pool (its threads do
// not exist there) and builds a new one on first use. Holding pool_mutex across fork keeps
// the child from inheriting it locked.
void before_fork() { pool_mutex.lock(); }
void after_fork_parent() { pool_mutex.unlock(); }
void after_fork_child() {
  pool = nullptr;
  pool_mutex.unlock();
}

WorkerPool& get_pool() {
  std::lock_guard guard(pool_mutex);
  if (pool == nullptr) {
    static const bool registered =
        pthread_atfork(before_fork, after_fork_parent, after_fork_child) == 0;
    (void)registered;
    pool = new WorkerPool(configured_thread_count());
  }
  return *pool;
}

}  // namespace

std::size_t pool_thread_count() { return get_pool().thread_count(); }

void parallel_for_ranges(std::size_t begin, std::size_t end, std::size_t grain, RangeBody body) {
  if (end <= begin) return;
  const std::size_t step = grain == 0 ? 1 : grain;
  if (in_parallel_loop || end - begin <= step) {
    body(begin, end);
    return;
  }
  WorkerPool& workers = get_pool();
  if (workers.thread_count() == 1) {
    body(begin, end);
    return;
  }
  in_parallel_loop = true;
  try {
    workers.run(begin, end, grain, body);
  } catch (...) {
    in_parallel_loop = false;
    throw;
  }
  in_parallel_loop = false;
}

}  // namespace tazmir
