// Nuclear orientation: the ellipse with the second moments of each labelled nucleus.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tazmir::orient {

/// The moment ellipse of one nucleus.
struct NuclearEllipse {
  double aspect_ratio;  ///< semi_major / semi_minor, at least 1
  double angle;         ///< long axis in [0, pi), from the row axis towards the column axis
  double semi_major;    ///< 2 sqrt(lambda_max), pixels
  double semi_minor;    ///< 2 sqrt(lambda_min), pixels
  std::pair<double, double> centroid;  ///< (mean row, mean column)
};

/// Running sums of one pixel set: positions in a first pass, spreads about the centroid in a
/// second, each accumulated from 0.0 in the order the pixels are met.
struct MomentSums {
  std::uint64_t count = 0;
  double sum_row = 0.0;
  double sum_col = 0.0;
  double mean_row = 0.0;
  double mean_col = 0.0;
  double sum_rr = 0.0;
  double sum_cc = 0.0;
  double sum_rc = 0.0;

  void add_position(std::uint64_t row, std::uint64_t col) {
    ++count;
    sum_row = sum_row + static_cast<double>(row);
    sum_col = sum_col + static_cast<double>(col);
  }
  void finish_positions() {
    const auto n = static_cast<double>(count);
    mean_row = sum_row / n;
    mean_col = sum_col / n;
  }
  void add_spread(std::uint64_t row, std::uint64_t col) {
    const double dr = static_cast<double>(row) - mean_row;
    const double dc = static_cast<double>(col) - mean_col;
    sum_rr = sum_rr + dr * dr;
    sum_cc = sum_cc + dc * dc;
    sum_rc = sum_rc + dr * dc;
  }
};

/// The ellipse of completed sums, or none for fewer than 3 pixels or a smaller second
/// moment below 1e-15 (pixels on one row, one column or one 45-degree diagonal).
std::optional<NuclearEllipse> ellipse_from_moments(const MomentSums& sums);

struct LabelledEllipse {
  std::int32_t label;
  NuclearEllipse ellipse;
};

/// Fits every label >= 1 of a rows x cols mask read through `label_at(r, c)`, in ascending
/// label order, leaving out labels without an ellipse. Each label's pixels are summed in
/// row-major order: positions in one scan, spreads about the mean in a second.
template <class LabelAt>
std::vector<LabelledEllipse> fit_nuclear_ellipses(std::size_t rows, std::size_t cols,
                                                  LabelAt&& label_at) {
  std::unordered_map<std::int32_t, std::size_t> slots;
  std::vector<MomentSums> sums;
  std::vector<std::int32_t> labels;
  // Nuclei cover runs of neighbouring pixels, so the last label's slot is usually the next.
  auto scan = [&](auto&& visit) {
    std::int32_t last = 0;
    std::size_t slot = 0;
    for (std::size_t r = 0; r < rows; ++r) {
      for (std::size_t c = 0; c < cols; ++c) {
        const std::int32_t label = label_at(r, c);
        if (label < 1) continue;
        if (label != last) {
          auto [it, inserted] = slots.try_emplace(label, sums.size());
          if (inserted) {
            sums.emplace_back();
            labels.push_back(label);
          }
          last = label;
          slot = it->second;
        }
        visit(sums[slot], r, c);
      }
    }
  };
  scan([](MomentSums& s, std::size_t r, std::size_t c) { s.add_position(r, c); });
  for (MomentSums& s : sums) s.finish_positions();
  scan([](MomentSums& s, std::size_t r, std::size_t c) { s.add_spread(r, c); });

  std::vector<std::pair<std::int32_t, std::size_t>> order;
  order.reserve(labels.size());
  for (std::size_t i = 0; i < labels.size(); ++i) order.emplace_back(labels[i], i);
  std::sort(order.begin(), order.end());
  std::vector<LabelledEllipse> fits;
  for (const auto& [label, slot] : order) {
    if (auto ellipse = ellipse_from_moments(sums[slot])) fits.push_back({label, *ellipse});
  }
  return fits;
}

}  // namespace tazmir::orient
