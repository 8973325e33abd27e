// The process-wide worker pool behind the parallel loops of the orientation field.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

namespace tazmir {

/// Threads taking part in a parallel loop, the caller included: TAZMIR_NUM_THREADS when it
/// is a positive integer, else the number of logical processors.
std::size_t pool_thread_count();

/// A non-owning reference to a callable `void(std::size_t lo, std::size_t hi)`.
class RangeBody {
 public:
  template <class F>
    requires(!std::is_same_v<std::remove_cv_t<F>, RangeBody>)
  RangeBody(F& fn)  // NOLINT: implicit by design
      : object_(static_cast<void*>(&fn)), call_([](void* object, std::size_t lo, std::size_t hi) {
          (*static_cast<F*>(object))(lo, hi);
        }) {}
  void operator()(std::size_t lo, std::size_t hi) const { call_(object_, lo, hi); }

 private:
  void* object_;
  void (*call_)(void*, std::size_t, std::size_t);
};

void parallel_for_ranges(std::size_t begin, std::size_t end, std::size_t grain, RangeBody body);

/// Calls body(lo, hi) on disjoint subranges that together cover [begin, end), on the pool.
/// The range is split recursively into halves, first into about one part per thread and
/// further when threads go idle; parts are never smaller than `grain` (at least 1) unless
/// the whole range is. The caller takes part. Every index is handed to exactly one call, so
/// a body that writes only the outputs of its own indices gives results independent of the
/// thread count. The first exception thrown by any part is rethrown here once all parts
/// have stopped; parts not yet started are then skipped.
template <class F>
void parallel_for(std::size_t begin, std::size_t end, std::size_t grain, F&& body) {
  std::remove_reference_t<F>& fn = body;
  parallel_for_ranges(begin, end, grain, RangeBody(fn));
}

}  // namespace tazmir
