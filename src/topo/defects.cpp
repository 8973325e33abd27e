// Defect detection: lift the director to a turning frame, scan the plaquettes two grid rows
// at a time, and give each reported plaquette its charge.
#include "topo/defects.hpp"

#include <cmath>
#include <limits>

#include "core/panic.hpp"
#include "core/sincos.hpp"
#include "topo/holonomy.hpp"
#include "topo/planar_steps.hpp"
#include "topo/plaquette_rows.hpp"

namespace tazmir::topo {

namespace {

using planar::Step;

/// Decides `acos(c) > threshold` without an arccosine for cosines far from the threshold's.
/// The band around cos(threshold) is 1e-15 relative, several times the error of the cosine
/// and of the arccosine (each within a rounding), so outside it the comparison is settled;
/// inside it the angle is computed exactly as the scan does.
class ThresholdTest {
 public:
  explicit ThresholdTest(double threshold) : threshold_(threshold) {
    constexpr double inf = std::numeric_limits<double>::infinity();
    if (std::isnan(threshold) || threshold >= std::acos(-1.0)) {
      report_below_ = -inf;  // no angle exceeds it
      skip_above_ = -inf;
    } else if (threshold < 0.0) {
      report_below_ = inf;  // every angle but NaN exceeds it
      skip_above_ = inf;
    } else {
      const double c = std::cos(threshold);
      const double band = 1e-15 * (std::fabs(c) + threshold * std::sin(threshold));
      report_below_ = c - band;
      skip_above_ = c + band;
    }
  }

  bool exceeded(double cosine) const {
    if (cosine < report_below_) return true;
    if (cosine > skip_above_) return false;
    return std::acos(cosine) > threshold_;  // NaN never passes
  }

 private:
  double threshold_;
  double report_below_ = 0.0;
  double skip_above_ = 0.0;
};

/// +1 when the director turns by +pi along (i, j) -> (i, j+1) -> (i+1, j+1) -> (i+1, j),
/// -1 when by -pi. The scan walks the same loop the other way round, so its turn is negated.
double charge_sign(Step r0, Step r1, Step r2, Step r3) {
  return -planar::loop_turn(r0, r1, r2, r3) < 0.0 ? -1.0 : 1.0;
}

Defect make_defect(std::size_t i, std::size_t j, double sign, double k, double angle) {
  return Defect{{static_cast<double>(i) + 0.5, static_cast<double>(j) + 0.5}, sign / k, angle};
}

/// Any grid the streamed scan cannot walk (an empty dimension or a point count beyond the
/// address range): the scan over the whole frame field reports its failure.
std::vector<Defect> detect_with_frame_field(std::span<const double> thetas, std::size_t nx,
                                            std::size_t ny, double k, double threshold) {
  std::vector<Frame> frames(thetas.size());
  for (std::size_t p = 0; p < thetas.size(); ++p) {
    double s = 0.0;
    double c = 0.0;
    sin_cos((thetas[p] * k) * 0.5, s, c);
    frames[p] = planar_frame(c, s);
  }
  std::vector<Defect> defects;
  for (const Disclination& d : scan_disclinations(frames, nx, ny, threshold)) {
    const auto at_point = [&](std::size_t i, std::size_t j) { return frames[i * ny + j]; };
    const auto step = [&](const Frame& a, const Frame& b) {
      return planar::step_between(a[0], a[1], b[0], b[1]);
    };
    const Frame f0 = at_point(d.row, d.col), f1 = at_point(d.row + 1, d.col);
    const Frame f2 = at_point(d.row + 1, d.col + 1), f3 = at_point(d.row, d.col + 1);
    const double sign = charge_sign(step(f0, f1), step(f1, f2), step(f2, f3), step(f3, f0));
    defects.push_back(make_defect(d.row, d.col, sign, k, d.angle));
  }
  return defects;
}

}  // namespace

std::vector<Defect> detect_defects(std::span<const double> thetas, std::size_t nx,
                                   std::size_t ny, std::uint32_t k, double threshold) {
  check_grid_length(thetas.size(), nx, ny);
  if (nx == 1 || ny == 1) return {};
  const double kd = static_cast<double>(k);
  std::size_t points = 0;
  if (nx == 0 || ny == 0 || __builtin_mul_overflow(nx, ny, &points)) {
    return detect_with_frame_field(thetas, nx, ny, kd, threshold);
  }

  // Working memory: the frames of two grid rows and the transports along and between them.
  const ThresholdTest test(threshold);
  const std::size_t nj = ny - 1;  // plaquettes per row
  std::vector<double> top_c(ny), top_s(ny), bottom_c(ny), bottom_s(ny);
  std::vector<double> along_top_c(nj), along_top_s(nj), along_bottom_c(nj), along_bottom_s(nj);
  std::vector<double> down_c(ny), down_s(ny), cosines(nj);
  const double* theta = thetas.data();
  planar::lift_row(theta, ny, kd, top_c.data(), top_s.data());
  planar::steps_between(top_c.data(), top_s.data(), top_c.data() + 1, top_s.data() + 1, nj,
                        along_top_c.data(), along_top_s.data());

  std::vector<Defect> defects;
  for (std::size_t i = 0; i + 1 < nx; ++i) {
    planar::lift_row(theta + (i + 1) * ny, ny, kd, bottom_c.data(), bottom_s.data());
    planar::steps_between(bottom_c.data(), bottom_s.data(), bottom_c.data() + 1,
                          bottom_s.data() + 1, nj, along_bottom_c.data(), along_bottom_s.data());
    planar::steps_between(top_c.data(), top_s.data(), bottom_c.data(), bottom_s.data(), ny,
                          down_c.data(), down_s.data());
    planar::plaquette_cosines(along_top_c.data(), along_top_s.data(), along_bottom_c.data(),
                              along_bottom_s.data(), down_c.data(), down_s.data(), nj,
                              cosines.data());
    for (std::size_t j = 0; j < nj; ++j) {
      if (!test.exceeded(cosines[j])) continue;
      // The scan's loop: down column j, along the bottom, up column j + 1, back along the top.
      const double sign = charge_sign(
          Step{down_c[j], down_s[j]}, Step{along_bottom_c[j], along_bottom_s[j]},
          planar::reversed(Step{down_c[j + 1], down_s[j + 1]}),
          planar::reversed(Step{along_top_c[j], along_top_s[j]}));
      defects.push_back(make_defect(i, j, sign, kd, std::acos(cosines[j])));
    }
    top_c.swap(bottom_c);
    top_s.swap(bottom_s);
    along_top_c.swap(along_bottom_c);
    along_top_s.swap(along_bottom_s);
  }
  return defects;
}

}  // namespace tazmir::topo
