// Allocation of uninitialised field storage, with allocation failures as internal failures.
#include "orient/buffer.hpp"

#include <sys/mman.h>

#include <cstdlib>
#include <limits>
#include <string>

namespace tazmir::orient {

namespace {
constexpr std::size_t huge_page = std::size_t{2} << 20;
constexpr std::size_t large_block = std::size_t{8} << 20;
}  // namespace

Buffer Buffer::uninitialized(std::size_t count, SourceLocation where) {
  constexpr auto max_count =
      static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / sizeof(double);
  if (count > max_count) panic("capacity overflow", where);
  Buffer buffer;
  if (count == 0) return buffer;
  const std::size_t bytes = count * sizeof(double);
  void* block = nullptr;
  if (bytes >= large_block) {
    // Image-sized fields are written once from start to end: huge pages turn thousands of
    // page faults per field into a few.
    if (posix_memalign(&block, huge_page, bytes) != 0) block = nullptr;
    if (block != nullptr) madvise(block, bytes / huge_page * huge_page, MADV_HUGEPAGE);
  } else {
    block = std::malloc(bytes);
  }
  if (block == nullptr) {
    panic("memory allocation of " + std::to_string(count * sizeof(double)) + " bytes failed",
          where);
  }
  buffer.data_.reset(static_cast<double*>(block));
  buffer.size_ = count;
  return buffer;
}

}  // namespace tazmir::orient
