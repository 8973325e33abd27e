// The computation layer's one error type, TazmirError, and Result<T> that carries it.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

#include "core/panic.hpp"

namespace tazmir {

namespace error {
struct ContourTooShort {
  std::uint64_t n;
  std::uint64_t min;
};
/// Any other refusal, carrying its message.
struct Other {
  std::string text;
};
}  // namespace error

/// Bad input reported by a computation; the module frame raises it as ValueError.
class TazmirError {
 public:
  using Variant = std::variant<error::ContourTooShort, error::Other>;

  template <class V>
    requires std::is_constructible_v<Variant, V&&>
  TazmirError(V&& value) : value_(std::forward<V>(value)) {}  // NOLINT: implicit by design

  const Variant& value() const noexcept { return value_; }

  /// The user-facing message, e.g. "contour has 2 points, need at least 3".
  std::string display() const;
  /// The debugging form used inside internal-failure texts, e.g. "ContourTooShort { n: 2, min: 3 }".
  std::string debug() const;

 private:
  Variant value_;
};

/// Either a value or a TazmirError.
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : state_(std::in_place_index<0>, std::move(value)) {}  // NOLINT
  Result(TazmirError error) : state_(std::in_place_index<1>, std::move(error)) {}  // NOLINT

  bool ok() const noexcept { return state_.index() == 0; }
  const T& value() const& { return std::get<0>(state_); }
  T& value() & { return std::get<0>(state_); }
  T&& value() && { return std::get<0>(std::move(state_)); }
  const TazmirError& error() const& { return std::get<1>(state_); }

  /// The value, or an internal failure "called `Result::unwrap()` on an `Err` value: ...".
  T unwrap(SourceLocation where = SourceLocation::current()) && {
    if (!ok()) panic("called `Result::unwrap()` on an `Err` value: " + error().debug(), where);
    return std::get<0>(std::move(state_));
  }

 private:
  std::variant<T, TazmirError> state_;
};

}  // namespace tazmir
