// Deriving the fenwold parameter set and writing its JSON text.
#include "theory/fenwold_output.hpp"

#include "theory/frank.hpp"
#include "theory/json_number.hpp"

namespace tazmir::theory {

FenwoldParams build_fenwold_params(const FenwoldInputs& in) {
  // Defect density first (defects per square micrometre), then times the elastic constant.
  const double zeta_eff =
      in.image_area_um2 < 1e-15
          ? 0.0
          : (static_cast<double>(in.n_defects) / in.image_area_um2) * in.k_elastic;
  return {in.a,        in.b,     in.c,    in.k_elastic, zeta_eff,
          in.splay,    in.bend,  splay_bend_ratio(in.splay, in.bend)};
}

std::string to_json(const FenwoldParams& params) {
  std::string text = "{";
  bool first = true;
  for (const FenwoldField& field : kFenwoldFields) {
    text += first ? "\n  \"" : ",\n  \"";
    first = false;
    text += field.name;
    text += "\": ";
    append_json_number(text, params.*field.member);
  }
  text += "\n}";
  return text;
}

}  // namespace tazmir::theory
