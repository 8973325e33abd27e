// Multiscale structure tensor and the optimal-scale maps.
#include "orient/multiscale.hpp"

namespace tazmir::orient {

MultiscaleResult multiscale_structure_tensor(const ImageField& field,
                                             std::span<const double> sigmas) {
  MultiscaleResult result;
  result.scales.reserve(sigmas.size());
  for (const double sigma : sigmas) result.scales.emplace_back(sigma, structure_tensor(field, sigma));
  return result;
}

void select_optimal_scale(std::span<const double> sigmas,
                          std::span<const double* const> coherences, std::size_t count,
                          double* best_sigma, double* best_coherence) {
  for (std::size_t i = 0; i < count; ++i) {
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
}

std::pair<ImageField, ImageField> optimal_scale_map(
    const std::vector<std::pair<double, StructureTensorResult>>& results) {
  if (results.empty()) return {ImageField(), ImageField()};
  const ImageField& first = results.front().second.theta;
  ImageField best_sigma = ImageField::zeros(first.width, first.height);
  ImageField best_coherence = ImageField::zeros(first.width, first.height);
  const std::size_t count = best_sigma.data.size();
  std::vector<double> sigmas;
  std::vector<const double*> coherences;
  for (const auto& [sigma, result] : results) {
    // The pixel loop would first step outside a shorter map at its length.
    if (result.coherence.data.size() < count) {
      panic_index(result.coherence.data.size(), result.coherence.data.size());
    }
    sigmas.push_back(sigma);
    coherences.push_back(result.coherence.data.data());
  }
  select_optimal_scale(sigmas, coherences, count, best_sigma.data.data(),
                       best_coherence.data.data());
  return {std::move(best_sigma), std::move(best_coherence)};
}

}  // namespace tazmir::orient
