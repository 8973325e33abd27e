// Entry points of the continuum-theory subsystem: Frank energy, LdG estimates, fenwold set.
#include "python/convert.hpp"
#include "python/frame.hpp"
#include "theory/fenwold_output.hpp"
#include "theory/frank.hpp"
#include "theory/landau_de_gennes.hpp"

namespace tazmir::py {

namespace {

Ref frank_energy(const Args& args) {
  const Array1DF64 thetas = to_array1d_f64(args[0]);
  const std::uint64_t nx = to_u64(args[1]);
  const std::uint64_t ny = to_u64(args[2]);
  const double dx = to_f64(args[3]);
  const theory::FrankEnergyResult energy = theory::frank_energy(thetas.as_slice(), nx, ny, dx);
  DictBuilder dict;
  dict.set("splay", new_float(energy.splay));
  dict.set("bend", new_float(energy.bend));
  dict.set("ratio", new_float(energy.ratio));
  return dict.finish();
}

Ref estimate_ldg_params(const Args& args) {
  const Array1DF64 s_values = to_array1d_f64(args[0]);
  const double correlation_length = to_f64(args[1]);
  const double pixel_size = to_f64(args[2]);
  const theory::LdgParams params =
      theory::estimate_ldg_params(s_values.as_slice(), correlation_length, pixel_size);
  DictBuilder dict;
  dict.set("a", new_float(params.a));
  dict.set("b", new_float(params.b));
  dict.set("c", new_float(params.c));
  dict.set("k_elastic", new_float(params.k_elastic));
  return dict.finish();
}

Ref build_fenwold_params(const Args& args) {
  theory::FenwoldInputs inputs{};
  inputs.a = to_f64(args[0]);
  inputs.b = to_f64(args[1]);
  inputs.c = to_f64(args[2]);
  inputs.k_elastic = to_f64(args[3]);
  inputs.splay = to_f64(args[4]);
  inputs.bend = to_f64(args[5]);
  inputs.n_defects = to_u64(args[6]);
  inputs.image_area_um2 = to_f64(args[7]);
  // The dict's floats and the text come from the one record, so they always agree.
  const theory::FenwoldParams params = theory::build_fenwold_params(inputs);
  const std::string json = theory::to_json(params);
  DictBuilder dict;
  for (const theory::FenwoldField& field : theory::kFenwoldFields) {
    dict.set(field.name, new_float(params.*field.member));
  }
  dict.set("json", new_str(json));
  return dict.finish();
}

constexpr const char* frank_energy_params[] = {"thetas", "nx", "ny", "dx"};
constexpr const char* estimate_ldg_params_params[] = {"s_values", "correlation_length",
                                                      "pixel_size"};
constexpr const char* build_fenwold_params_params[] = {
    "a", "b", "c", "k_elastic", "splay", "bend", "n_defects", "image_area_um2"};

const FunctionEntry functions[] = {
    define_function(
        "frank_energy", frank_energy_params,
        "Compute Frank elastic energy from a 2D director field.\n\n`thetas`: flat row-major "
        "array of director angles, shape (ny * nx).\n`nx`, `ny`: grid dimensions.\n`dx`: "
        "grid spacing in physical units.\n\nReturns dict with \"splay\", \"bend\", \"ratio\".",
        frank_energy),
    define_function(
        "estimate_ldg_params", estimate_ldg_params_params,
        "Estimate Landau-de Gennes parameters from the scalar order parameter distribution.\n"
        "\n`s_values`: 1D array of per-cell scalar order parameter |psi_2|.\n"
        "`correlation_length`: xi from G_2(r) exponential decay fit (in pixels).\n"
        "`pixel_size`: um per pixel.\n\nReturns dict with \"a\", \"b\", \"c\", \"k_elastic\".",
        estimate_ldg_params),
    define_function(
        "build_fenwold_params", build_fenwold_params_params,
        "Build a fenwold-compatible parameter set from analysis results.\n\nAccepts "
        "individual parameters directly:\n  `a`, `b`, `c`, `k_elastic`: LdG parameters.\n  "
        "`splay`, `bend`: Frank energy components.\n  `n_defects`: number of detected "
        "defects.\n  `image_area_um2`: total image area in um^2.\n\nReturns dict with all "
        "fenwold parameters, plus a \"json\" key with the serialized form.",
        build_fenwold_params),
};

}  // namespace

const std::span<const FunctionEntry> theory_functions = functions;

}  // namespace tazmir::py
