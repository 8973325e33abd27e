// Shortest round-trip number form of the fenwold parameter text.
#include "theory/json_number.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string_view>
#include <system_error>

namespace tazmir::theory {
namespace {

// Shortest digits d1..dn (no point, no trailing zeros) and the decimal exponent E of d1,
// so that |value| = d1.d2...dn x 10^E. `value` is finite and non-zero.
struct Decimal {
  char digits[24];
  int count;
  int exponent;
};

Decimal shortest_decimal(double magnitude) {
  // std::to_chars without a precision gives the shortest string that reads back to the
  // same double, the closest one to the binary value among equals, ties to even.
  char text[32];
  const auto result =
      std::to_chars(text, text + sizeof text, magnitude, std::chars_format::scientific);
  const std::string_view form(text, static_cast<std::size_t>(result.ptr - text));
  const std::size_t e = form.find('e');
  Decimal decimal{};
  for (const char ch : form.substr(0, e)) {
    if (ch != '.') decimal.digits[decimal.count++] = ch;
  }
  // Exponent text is "e+dd", "e-dd" or with three digits.
  int exponent = 0;
  for (const char ch : form.substr(e + 2)) exponent = exponent * 10 + (ch - '0');
  decimal.exponent = form[e + 1] == '-' ? -exponent : exponent;
  return decimal;
}

}  // namespace

void append_json_number(std::string& out, double value) {
  if (!std::isfinite(value)) {
    out += "null";
    return;
  }
  if (std::signbit(value)) out += '-';
  if (value == 0.0) {
    out += "0.0";
    return;
  }
  const Decimal d = shortest_decimal(std::fabs(value));
  const std::string_view digits(d.digits, static_cast<std::size_t>(d.count));
  const int n = d.count;
  const int e = d.exponent;
  if (e >= 16 || e <= -6) {
    out += digits[0];
    if (n >= 2) {
      out += '.';
      out += digits.substr(1);
    }
    out += e >= 0 ? "e+" : "e-";
    out += std::to_string(std::abs(e));
  } else if (e >= n - 1) {
    out += digits;
    out.append(static_cast<std::size_t>(e + 1 - n), '0');
    out += ".0";
  } else if (e < 0) {
    out += "0.";
    out.append(static_cast<std::size_t>(-e - 1), '0');
    out += digits;
  } else {
    const auto integer_digits = static_cast<std::size_t>(e + 1);
    out += digits.substr(0, integer_digits);
    out += '.';
    out += digits.substr(integer_digits);
  }
}

}  // namespace tazmir::theory
