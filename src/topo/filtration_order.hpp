// The filtration order of a list of simplices: by value, then dimension, then input order.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace tazmir::topo {

/// Identifiers sorted stably by value ascending, ties by dimension ascending. Values compare
/// as numbers (-0.0 equals +0.0); a NaN among two or more values cannot be compared and is
/// an internal failure ("called `Option::unwrap()` on a `None` value").
template <class Index>
std::vector<Index> filtration_order(std::span<const double> values,
                                    std::span<const std::uint8_t> dims);

extern template std::vector<std::uint32_t> filtration_order(std::span<const double>,
                                                            std::span<const std::uint8_t>);
extern template std::vector<std::uint64_t> filtration_order(std::span<const double>,
                                                            std::span<const std::uint8_t>);

}  // namespace tazmir::topo
