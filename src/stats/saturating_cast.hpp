// Float-to-unsigned conversion that is defined for every input (saturating, truncating).
#pragma once

#include <cstdint>
#include <limits>

namespace tazmir::stats {

/// Truncation toward zero, saturating: negative values and NaN give 0, values at or above
/// 2^64 give the largest unsigned value. A plain cast would be undefined outside the range.
constexpr std::uint64_t saturating_to_u64(double value) noexcept {
  if (!(value > 0.0)) return 0;  // also NaN
  if (value >= 18446744073709551616.0) return std::numeric_limits<std::uint64_t>::max();
  return static_cast<std::uint64_t>(value);
}

}  // namespace tazmir::stats
