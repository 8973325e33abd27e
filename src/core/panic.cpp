// Internal failures: diagnostics on stderr and the fixed failure texts.
#include "core/panic.hpp"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <limits>
#include <new>

namespace tazmir {

namespace {

thread_local std::string thread_name;

std::string current_thread_name() {
  if (!thread_name.empty()) return thread_name;
  return getpid() == static_cast<pid_t>(gettid()) ? "main" : "<unnamed>";
}

// Paths are reported from the source tree's root ("src/...") rather than the build machine's.
std::string_view short_path(std::string_view path) {
  const auto pos = path.rfind("/src/");
  return pos == std::string_view::npos ? path : path.substr(pos + 1);
}

}  // namespace

void set_thread_name(std::string name) { thread_name = std::move(name); }

void write_panic_diagnostic(std::string_view message, SourceLocation where) {
  const std::string name = current_thread_name();
  const std::string_view file = short_path(where.file_name());
  std::fprintf(stderr, "\nthread '%s' panicked at %.*s:%u:%u:\n%.*s\n", name.c_str(),
               static_cast<int>(file.size()), file.data(), static_cast<unsigned>(where.line()),
               static_cast<unsigned>(where.column()), static_cast<int>(message.size()),
               message.data());
  std::fflush(stderr);
}

void panic(std::string message, SourceLocation where) {
  write_panic_diagnostic(message, where);
  throw Panic(std::move(message));
}

void panic_index(std::size_t index, std::size_t len, SourceLocation where) {
  panic("index out of bounds: the len is " + std::to_string(len) + " but the index is " +
            std::to_string(index),
        where);
}

void check_range(std::size_t start, std::size_t end, std::size_t len, SourceLocation where) {
  if (start > end) {
    panic("slice index starts at " + std::to_string(start) + " but ends at " +
              std::to_string(end),
          where);
  }
  if (end > len) {
    panic("range end index " + std::to_string(end) + " out of range for slice of length " +
              std::to_string(len),
          where);
  }
}

void panic_assert_eq(std::string_view left, std::string_view right, std::string_view message,
                     SourceLocation where) {
  std::string text = "assertion `left == right` failed: ";
  text.append(message);
  text.append("\n  left: ");
  text.append(left);
  text.append("\n right: ");
  text.append(right);
  panic(std::move(text), where);
}

void panic_unwrap_none(SourceLocation where) {
  panic("called `Option::unwrap()` on a `None` value", where);
}

std::size_t checked_area(std::size_t width, std::size_t height, SourceLocation where) {
  std::size_t area = 0;
  if (__builtin_mul_overflow(width, height, &area)) panic("capacity overflow", where);
  return area;
}

std::vector<double> alloc_zeros(std::size_t count, SourceLocation where) {
  constexpr auto max_count =
      static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / sizeof(double);
  if (count > max_count) panic("capacity overflow", where);
  try {
    return std::vector<double>(count, 0.0);
  } catch (const std::bad_alloc&) {
    panic("memory allocation of " + std::to_string(count * sizeof(double)) + " bytes failed",
          where);
  }
}

}  // namespace tazmir
