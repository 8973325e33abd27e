// The processor feature probe, asked once.
#include "core/cpu.hpp"

namespace tazmir {

bool cpu_has_avx2() noexcept {
#if TAZMIR_X86
  static const bool available = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi");
  }();
  return available;
#else
  return false;
#endif
}

}  // namespace tazmir
