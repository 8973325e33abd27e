// Uninitialised scratch and result storage for fields that are overwritten in full.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

#include "core/panic.hpp"

namespace tazmir {

/// An owned block of doubles whose contents start undefined: the structure-tensor stages
/// write every element, so zero-filling would only cost a pass over memory.
class Buffer {
 public:
  Buffer() = default;

  /// `count` doubles; a size that cannot be held or allocated is an internal failure.
  static Buffer uninitialized(std::size_t count, SourceLocation where = SourceLocation::current());

  double* data() noexcept { return data_.get(); }
  const double* data() const noexcept { return data_.get(); }
  std::size_t size() const noexcept { return size_; }

  /// Gives up ownership; the memory must then be returned with std::free.
  double* release() noexcept { return data_.release(); }

 private:
  struct FreeDeleter {
    void operator()(double* block) const noexcept { std::free(block); }
  };
  std::unique_ptr<double, FreeDeleter> data_;
  std::size_t size_ = 0;
};

}  // namespace tazmir
