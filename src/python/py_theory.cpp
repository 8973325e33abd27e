// Entry points of the continuum-theory subsystem: Frank energy, LdG estimates, fenwold set.
#include "python/convert.hpp"
#include "python/entry_points.hpp"
#include "theory/fenwold_output.hpp"
#include "theory/frank.hpp"
#include "theory/landau_de_gennes.hpp"

namespace tazmir::py {

Ref frank_energy(PyObject* const* args) {
  const Array1DF64 thetas = to_array1d_f64(args[0], "thetas");
  const std::uint64_t nx = to_u64(args[1], "nx");
  const std::uint64_t ny = to_u64(args[2], "ny");
  const double dx = to_f64(args[3], "dx");
  const theory::FrankEnergyResult energy = theory::frank_energy(thetas.as_slice(), nx, ny, dx);
  DictBuilder dict;
  dict.set("splay", new_float(energy.splay));
  dict.set("bend", new_float(energy.bend));
  dict.set("ratio", new_float(energy.ratio));
  return dict.finish();
}

Ref estimate_ldg_params(PyObject* const* args) {
  const Array1DF64 s_values = to_array1d_f64(args[0], "s_values");
  const double correlation_length = to_f64(args[1], "correlation_length");
  const double pixel_size = to_f64(args[2], "pixel_size");
  const theory::LdgParams params =
      theory::estimate_ldg_params(s_values.as_slice(), correlation_length, pixel_size);
  DictBuilder dict;
  dict.set("a", new_float(params.a));
  dict.set("b", new_float(params.b));
  dict.set("c", new_float(params.c));
  dict.set("k_elastic", new_float(params.k_elastic));
  return dict.finish();
}

Ref build_fenwold_params(PyObject* const* args) {
  theory::FenwoldInputs inputs{};
  inputs.a = to_f64(args[0], "a");
  inputs.b = to_f64(args[1], "b");
  inputs.c = to_f64(args[2], "c");
  inputs.k_elastic = to_f64(args[3], "k_elastic");
  inputs.splay = to_f64(args[4], "splay");
  inputs.bend = to_f64(args[5], "bend");
  inputs.n_defects = to_u64(args[6], "n_defects");
  inputs.image_area_um2 = to_f64(args[7], "image_area_um2");
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

}  // namespace tazmir::py
