// The optimal-scale selection of the multiscale structure tensor.
#include "orient/multiscale.hpp"

#include "core/pool.hpp"

namespace tazmir::orient {

void select_optimal_scale(std::span<const double> sigmas,
                          std::span<const double* const> coherences, std::size_t count,
                          double* best_sigma, double* best_coherence) {
  // Every pixel is decided on its own, so runs of pixels may go to different threads.
  parallel_for(0, count, 16384, [&](std::size_t lo, std::size_t hi) {
    for (std::size_t i = lo; i < hi; ++i) {
      double sigma = 0.0;
      double best = -1.0;
      for (std::size_t s = 0; s < sigmas.size(); ++s) {
        const double c = coherences[s][i];
        if (c > best) {
          best = c;
          sigma = sigmas[s];
        }
      }
      best_sigma[i] = sigma;
      best_coherence[i] = best;
    }
  });
}

}  // namespace tazmir::orient
