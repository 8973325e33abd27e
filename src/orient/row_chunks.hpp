// Row chunks handed out to the pool's threads on demand, so a shared machine stays balanced.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>

#include "core/pool.hpp"

namespace tazmir::orient {

/// The rows [0, rows) cut into chunks of `chunk` rows, claimed one at a time. Used as
///     parallel_for(0, chunks.tasks(), 1, [&](auto, auto) {
///       ...per-task scratch...
///       for (std::size_t lo, hi; chunks.take(lo, hi);) { ...rows lo..hi... }
///     });
/// every thread of the pool takes the next unclaimed chunk until none is left, so a thread
/// that the system holds back does not leave the others idle. Each row belongs to exactly
/// one chunk, and its values do not depend on which thread computes them.
class RowChunks {
 public:
  RowChunks(std::size_t rows, std::size_t chunk)
      : rows_(rows),
        chunk_(std::max<std::size_t>(chunk, 1)),
        count_((rows + chunk_ - 1) / chunk_) {}

  /// Tasks worth starting: one per pool thread, at most one per chunk.
  std::size_t tasks() const { return std::min(count_, pool_thread_count()); }

  /// Claims the next chunk; false when all are taken.
  bool take(std::size_t& lo, std::size_t& hi) {
    const std::size_t k = next_.fetch_add(1, std::memory_order_relaxed);
    if (k >= count_) return false;
    lo = k * chunk_;
    hi = std::min(rows_, lo + chunk_);
    return true;
  }

 private:
  std::size_t rows_;
  std::size_t chunk_;
  std::size_t count_;
  std::atomic<std::size_t> next_{0};
};

}  // namespace tazmir::orient
