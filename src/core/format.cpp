// Number and text formatting shared by error messages.
#include "core/format.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <system_error>

namespace tazmir {

std::string format_fixed3(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  // glibc's printf converts the exact binary value, so the rounding is correct.
  char buffer[400];
  const int n = std::snprintf(buffer, sizeof buffer, "%.3f", value);
  return std::string(buffer, static_cast<std::size_t>(n));
}

std::string format_debug_float(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "inf" : "-inf";
  char digits[32];
  // Shortest digits in scientific form: d[.ddd]e[-]x
  const auto sci = std::to_chars(digits, digits + sizeof digits, value,
                                 std::chars_format::scientific);
  std::string text(digits, sci.ptr);
  const auto e = text.find('e');
  const std::string mantissa = text.substr(0, e);
  const int exponent = std::atoi(text.c_str() + e + 1);
  const double magnitude = std::fabs(value);
  if (magnitude != 0.0 && (magnitude < 1e-4 || magnitude >= 1e16)) {
    return mantissa + "e" + std::to_string(exponent);
  }
  const auto fixed = std::to_chars(digits, digits + sizeof digits, value,
                                   std::chars_format::fixed);
  std::string plain(digits, fixed.ptr);
  if (plain.find('.') == std::string::npos) plain += ".0";
  return plain;
}

std::string format_debug_string(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (byte < 0x20 || byte == 0x7f) {
          char escape[16];
          std::snprintf(escape, sizeof escape, "\\u{%x}", byte);
          out += escape;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace tazmir
