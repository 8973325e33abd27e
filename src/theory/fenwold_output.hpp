// The parameter set handed to the fenwold continuum simulator, and its JSON text.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace tazmir::theory {

/// What the caller measured: Landau coefficients, Frank energies, defect count, image area.
struct FenwoldInputs {
  double a;
  double b;
  double c;
  double k_elastic;
  double splay;
  double bend;
  std::uint64_t n_defects;
  double image_area_um2;
};

/// The simulator's parameters, in the order the text lists them.
struct FenwoldParams {
  double a_landau;
  double b_landau;
  double c_landau;
  double k_r;
  double zeta_eff;
  double frank_splay;
  double frank_bend;
  double frank_ratio;
};

/// One member of the parameter set: its key and where the record holds it.
struct FenwoldField {
  const char* name;
  double FenwoldParams::*member;
};

/// The members in text order; the Python dict and the JSON text both walk this table.
inline constexpr std::array<FenwoldField, 8> kFenwoldFields{{
    {"a_landau", &FenwoldParams::a_landau},
    {"b_landau", &FenwoldParams::b_landau},
    {"c_landau", &FenwoldParams::c_landau},
    {"k_r", &FenwoldParams::k_r},
    {"zeta_eff", &FenwoldParams::zeta_eff},
    {"frank_splay", &FenwoldParams::frank_splay},
    {"frank_bend", &FenwoldParams::frank_bend},
    {"frank_ratio", &FenwoldParams::frank_ratio},
}};

/// The record: zeta_eff = (n_defects / area) * k_elastic (0.0 for an area below 1e-15),
/// frank_ratio = splay / bend (+inf for a bend not above 1e-15).
FenwoldParams build_fenwold_params(const FenwoldInputs& inputs);

/// The text the simulator reads: an object of ten lines, two-space indent, members in
/// table order, shortest round-trip numbers and null for non-finite values.
std::string to_json(const FenwoldParams& params);

}  // namespace tazmir::theory
