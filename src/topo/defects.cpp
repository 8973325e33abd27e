// Defect detection: lift the director to a turning frame, scan the plaquettes two grid rows
// at a time, and give each reported plaquette its charge.
#include "topo/defects.hpp"

#include <cmath>
#include <limits>

#include "core/panic.hpp"
#include "topo/holonomy.hpp"
#include "topo/planar_steps.hpp"

namespace tazmir::topo {

namespace {

using planar::Step;

/// Decides `acos(c) > threshold` without an arccosine for cosines far from the threshold's:
/// outside a band a few hundred roundings wide around cos(threshold) both the cosine and the
/// arccosine are accurate enough to settle the comparison; inside it the angle is computed.
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

/// Cosine and sine of the lifted angle (theta * k) * 0.5 of every value of one grid row.
void lift_row(const double* theta, std::size_t n, double k, double* cos_out, double* sin_out) {
  for (std::size_t j = 0; j < n; ++j) {
    const double phi = (theta[j] * k) * 0.5;
    ::sincos(phi, &sin_out[j], &cos_out[j]);
  }
}

/// Transport from (c0, s0)[j] to (c1, s1)[j + shift] for j in [0, n).
void steps_between(const double* c0, const double* s0, const double* c1, const double* s1,
                   std::size_t n, Step* out) {
  for (std::size_t j = 0; j < n; ++j) out[j] = planar::step_between(c0[j], s0[j], c1[j], s1[j]);
}

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
    ::sincos((thetas[p] * k) * 0.5, &s, &c);
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
  std::vector<double> top_c(ny), top_s(ny), bottom_c(ny), bottom_s(ny), cosines(ny - 1);
  std::vector<Step> along_top(ny - 1), along_bottom(ny - 1), down(ny);
  const double* theta = thetas.data();
  lift_row(theta, ny, kd, top_c.data(), top_s.data());
  steps_between(top_c.data(), top_s.data(), top_c.data() + 1, top_s.data() + 1, ny - 1,
                along_top.data());

  std::vector<Defect> defects;
  for (std::size_t i = 0; i + 1 < nx; ++i) {
    lift_row(theta + (i + 1) * ny, ny, kd, bottom_c.data(), bottom_s.data());
    steps_between(bottom_c.data(), bottom_s.data(), bottom_c.data() + 1, bottom_s.data() + 1,
                  ny - 1, along_bottom.data());
    steps_between(top_c.data(), top_s.data(), bottom_c.data(), bottom_s.data(), ny,
                  down.data());
    // Loop F0 = (i, j) -> F1 = (i+1, j) -> F2 = (i+1, j+1) -> F3 = (i, j+1) -> F0.
    for (std::size_t j = 0; j + 1 < ny; ++j) {
      cosines[j] = planar::loop_cosine(down[j], along_bottom[j], planar::reversed(down[j + 1]),
                                       planar::reversed(along_top[j]));
    }
    for (std::size_t j = 0; j + 1 < ny; ++j) {
      if (!test.exceeded(cosines[j])) continue;
      const double sign = charge_sign(down[j], along_bottom[j], planar::reversed(down[j + 1]),
                                      planar::reversed(along_top[j]));
      defects.push_back(make_defect(i, j, sign, kd, std::acos(cosines[j])));
    }
    top_c.swap(bottom_c);
    top_s.swap(bottom_s);
    along_top.swap(along_bottom);
  }
  return defects;
}

}  // namespace tazmir::topo
