// Internal failures: a broken invariant stops the call and surfaces as PanicException.
#pragma once

#include <cstddef>
#include <exception>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

namespace tazmir {

/// An internal failure. Thrown by computation code, caught once at the module frame.
/// Its diagnostic (thread, source location, message) is written to stderr when raised.
class Panic : public std::exception {
 public:
  explicit Panic(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& message() const noexcept { return message_; }

 private:
  std::string message_;
};

using SourceLocation = std::source_location;

/// Writes the diagnostic to stderr and throws `Panic` with `message`.
[[noreturn]] void panic(std::string message, SourceLocation where = SourceLocation::current());

/// Writes the stderr diagnostic for a failure raised elsewhere (for example an allocation).
void write_panic_diagnostic(std::string_view message, SourceLocation where);

/// Names the calling thread in panic diagnostics (worker threads call this once).
void set_thread_name(std::string name);

/// "index out of bounds: the len is {len} but the index is {index}"
[[noreturn]] void panic_index(std::size_t index, std::size_t len,
                              SourceLocation where = SourceLocation::current());

inline void check_index(std::size_t index, std::size_t len,
                        SourceLocation where = SourceLocation::current()) {
  if (index >= len) panic_index(index, len, where);
}

/// Bounds-checked element access with the index-out-of-bounds failure text.
template <class T>
const T& at(const std::vector<T>& values, std::size_t index,
            SourceLocation where = SourceLocation::current()) {
  check_index(index, values.size(), where);
  return values[index];
}

template <class T>
T& at(std::vector<T>& values, std::size_t index,
      SourceLocation where = SourceLocation::current()) {
  check_index(index, values.size(), where);
  return values[index];
}

/// Checks that [start, end) is a valid slice of a sequence of length `len`, with the
/// range failure texts ("slice index starts at ...", "range end index ...").
void check_range(std::size_t start, std::size_t end, std::size_t len,
                 SourceLocation where = SourceLocation::current());

/// "assertion `left == right` failed: {message}\n  left: {left}\n right: {right}"
[[noreturn]] void panic_assert_eq(std::string_view left, std::string_view right,
                                  std::string_view message,
                                  SourceLocation where = SourceLocation::current());

/// "called `Option::unwrap()` on a `None` value"
[[noreturn]] void panic_unwrap_none(SourceLocation where = SourceLocation::current());

/// Allocates `count` zeros; an impossible size is an internal failure, never an abort.
std::vector<double> alloc_zeros(std::size_t count,
                                SourceLocation where = SourceLocation::current());

/// width * height, failing with "capacity overflow" when the product does not fit.
std::size_t checked_area(std::size_t width, std::size_t height,
                         SourceLocation where = SourceLocation::current());

}  // namespace tazmir
