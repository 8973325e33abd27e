// Numbers of the fenwold parameter text: shortest round-trip digits in a fixed layout.
#pragma once

#include <string>

namespace tazmir::theory {

/// Appends `value` as the parameter text writes numbers: the shortest digits that read back
/// to the same double, laid out as "1500.0", "0.00001", "123.456", "1e-6", "1.5e+16",
/// "0.0" / "-0.0" for the zeros, and the bare word "null" for NaN and the infinities.
void append_json_number(std::string& out, double value);

}  // namespace tazmir::theory
