// Allocation of uninitialised field storage, with allocation failures as internal failures.
#include "core/buffer.hpp"

#include <cstdlib>
#include <limits>
#include <string>

namespace tazmir {

Buffer Buffer::uninitialized(std::size_t count, SourceLocation where) {
  constexpr auto max_count =
      static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / sizeof(double);
  if (count > max_count) panic("capacity overflow", where);
  Buffer buffer;
  if (count == 0) return buffer;
  void* block = std::malloc(count * sizeof(double));
  if (block == nullptr) {
    panic("memory allocation of " + std::to_string(count * sizeof(double)) + " bytes failed",
          where);
  }
  buffer.data_.reset(static_cast<double*>(block));
  buffer.size_ = count;
  return buffer;
}

}  // namespace tazmir
