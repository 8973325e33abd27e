// Number and text formatting shared by error messages.
#pragma once

#include <string>
#include <string_view>

namespace tazmir {

/// Fixed notation with 3 decimals, correctly rounded from the exact binary value;
/// "-0.000" for negative zero, "NaN", "inf" and "-inf" for the specials.
std::string format_fixed3(double value);

/// Shortest round-trip decimal form as the debugging form prints floats:
/// "1.0", "0.1", "1e-7", "1e16", "NaN", "inf".
std::string format_debug_float(double value);

/// A text in double quotes with quotes, backslashes and control characters escaped.
std::string format_debug_string(std::string_view text);

}  // namespace tazmir
