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
          [](const error::DimensionMismatch& e) {
            return "dimension mismatch: expected " + e.expected + ", got " + e.got;
          },
          [](const error::ContourTooShort& e) {
            return "contour has " + std::to_string(e.n) + " points, need at least " +
                   std::to_string(e.min);
          },
          [](const error::EmptyMask& e) {
            return "empty cell mask: label " + std::to_string(e.label) + " has zero pixels";
          },
          [](const error::SingularMatrix&) {
            return std::string("singular matrix in eigendecomposition");
          },
          [](const error::InvalidK& e) {
            return "invalid k-atic order: k=" + std::to_string(e.k) + ", must be positive";
          },
          [](const error::NoCells&) { return std::string("no cells found in segmentation"); },
          [](const error::PoincareHopfViolation& e) {
            return "Poincare-Hopf violation: charge sum " + format_fixed3(e.sum) +
                   " != Euler characteristic " + std::to_string(e.chi);
          },
          [](const error::Other& e) { return e.text; },
      },
      value_);
}

std::string TazmirError::debug() const {
  return std::visit(
      Overloaded{
          [](const error::DimensionMismatch& e) {
            return "DimensionMismatch { expected: " + format_debug_string(e.expected) +
                   ", got: " + format_debug_string(e.got) + " }";
          },
          [](const error::ContourTooShort& e) {
            return "ContourTooShort { n: " + std::to_string(e.n) +
                   ", min: " + std::to_string(e.min) + " }";
          },
          [](const error::EmptyMask& e) {
            return "EmptyMask { label: " + std::to_string(e.label) + " }";
          },
          [](const error::SingularMatrix&) { return std::string("SingularMatrix"); },
          [](const error::InvalidK& e) { return "InvalidK { k: " + std::to_string(e.k) + " }"; },
          [](const error::NoCells&) { return std::string("NoCells"); },
          [](const error::PoincareHopfViolation& e) {
            return "PoincareHopfViolation { sum: " + format_debug_float(e.sum) +
                   ", chi: " + std::to_string(e.chi) + " }";
          },
          [](const error::Other& e) { return "Other(" + format_debug_string(e.text) + ")"; },
      },
      value_);
}

}  // namespace tazmir
