// Display and debugging texts of TazmirError.
#include "core/error.hpp"

#include "core/format.hpp"

namespace tazmir {

namespace {

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

}  // namespace

std::string TazmirError::display() const {
  return std::visit(
      Overloaded{
          [](const error::ContourTooShort& e) {
            return "contour has " + std::to_string(e.n) + " points, need at least " +
                   std::to_string(e.min);
          },
          [](const error::Other& e) { return e.text; },
      },
      value_);
}

std::string TazmirError::debug() const {
  return std::visit(
      Overloaded{
          [](const error::ContourTooShort& e) {
            return "ContourTooShort { n: " + std::to_string(e.n) +
                   ", min: " + std::to_string(e.min) + " }";
          },
          [](const error::Other& e) { return "Other(" + format_debug_string(e.text) + ")"; },
      },
      value_);
}

}  // namespace tazmir
