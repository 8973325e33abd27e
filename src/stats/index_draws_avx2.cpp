// Fisher-Yates index draws sixteen words at a time with AVX2, word for word as the scalar
// rule. x86 only; elsewhere the generator draws one word at a time.
#include "core/cpu.hpp"

#if TAZMIR_X86
#include <immintrin.h>

#include "stats/chacha_generator.hpp"

namespace tazmir::stats {

namespace {

struct Batch {
  std::uint32_t draws;
  std::uint32_t words;
};

constexpr std::uint32_t batch_words = 16;
constexpr int hypotheses = 4;

// Draws from the 16 words at `words` for the bounds s0, s0 - 1, ... up to the fourth
// refused word. Word t stands for bound s0 - t + h when h words before it were refused
// (hypothesis h); every word is tested under every hypothesis at once, and the refusals
// found under hypothesis h, after the one that ended hypothesis h - 1, select the outcome.
// Writes 16 js of which the first `draws` are the result. Needs 33 <= s0 < 2^31 - 3 so
// that every bound is below 2^31 and within a factor two of the others.
TAZMIR_AVX2 inline Batch draw16(const std::uint32_t* words, std::uint32_t s0,
                                std::uint32_t* js) noexcept {
  const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i sign = _mm256_set1_epi32(static_cast<int>(0x80000000u));
  const __m256i one = _mm256_set1_epi32(1);
  const __m256i w[2] = {_mm256_loadu_si256(reinterpret_cast<const __m256i*>(words)),
                        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(words + 8))};
  // The bounds lie in [s0 - 15, s0 + 3]: their leading-zero counts are clz(s0 + 3) or
  // one more, below the power of two `half`.
  const auto lz_top = static_cast<unsigned>(__builtin_clz(s0 + 3));
  const __m256i half = _mm256_set1_epi32(static_cast<int>(1u << (31 - lz_top)));
  const __m256i lz_top_v = _mm256_set1_epi32(static_cast<int>(lz_top));

  alignas(32) std::uint32_t high[hypotheses][batch_words + 8];
  unsigned refused[hypotheses];
  for (int h = 0; h < hypotheses; ++h) {
    unsigned bits = 0;
    for (int v = 0; v < 2; ++v) {
      const auto first_bound =
          static_cast<int>(s0 + static_cast<unsigned>(h) - 8u * static_cast<unsigned>(v));
      const __m256i bound = _mm256_sub_epi32(_mm256_set1_epi32(first_bound), lane);
      const __m256i below_half = _mm256_cmpgt_epi32(half, bound);  // -1: one more zero
      const __m256i zone =
          _mm256_sub_epi32(_mm256_sllv_epi32(bound, _mm256_sub_epi32(lz_top_v, below_half)), one);
      const __m256i low = _mm256_mullo_epi32(w[v], bound);
      const __m256i even = _mm256_mul_epu32(w[v], bound);
      const __m256i odd =
          _mm256_mul_epu32(_mm256_srli_epi64(w[v], 32), _mm256_srli_epi64(bound, 32));
      _mm256_store_si256(reinterpret_cast<__m256i*>(high[h] + 8 * v),
                         _mm256_blend_epi32(_mm256_srli_epi64(even, 32), odd, 0b10101010));
      // Unsigned low > zone: refused.
      const __m256i over =
          _mm256_cmpgt_epi32(_mm256_xor_si256(low, sign), _mm256_xor_si256(zone, sign));
      bits |= static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(over))) << (8 * v);
    }
    refused[h] = bits;
  }
  constexpr unsigned none = 1u << batch_words;
  unsigned r[hypotheses];
  unsigned from = 0;
  unsigned rejections = 0;
  for (int h = 0; h < hypotheses; ++h) {
    r[h] = static_cast<unsigned>(__builtin_ctz((refused[h] & (~0u << from)) | none));
    rejections += r[h] < batch_words ? 1u : 0u;
    from = r[h] + 1;  // 17 once the words are exhausted: nothing further is found
  }
  const unsigned used = r[hypotheses - 1] < batch_words ? r[hypotheses - 1] + 1 : batch_words;

  // Draw d takes word d + h under the hypothesis h in force at that draw: h rises at the
  // draws r[0], r[1] - 1, r[2] - 2 (as far as those refusals exist).
  for (int v = 0; v < 2; ++v) {
    const __m256i draw = _mm256_add_epi32(lane, _mm256_set1_epi32(8 * v));
    __m256i result = _mm256_load_si256(reinterpret_cast<const __m256i*>(high[0] + 8 * v));
    for (int h = 1; h < hypotheses; ++h) {
      // Once the words ran out under an earlier hypothesis, this one is never in force.
      const int first_draw = r[h - 1] < batch_words ? static_cast<int>(r[h - 1]) - (h - 1) : 32;
      const __m256i start = _mm256_set1_epi32(first_draw);
      const __m256i in_force = _mm256_cmpgt_epi32(start, draw);  // -1: earlier hypothesis
      const __m256i shifted =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(high[h] + 8 * v + h));
      result = _mm256_blendv_epi8(shifted, result, in_force);
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(js + 8 * v), result);
  }
  return {used - rejections, used};
}

}  // namespace

TAZMIR_AVX2 void draw_descending_avx2(ChaCha12Generator& generator, std::uint32_t top,
                                      std::uint32_t count, std::uint32_t* js) noexcept {
  constexpr std::size_t buffer_words = ChaCha12Generator::buffer_words;
  std::size_t index = generator.index_;
  std::uint32_t k = 0;
  alignas(32) std::uint32_t straddle[batch_words];
  while (k < count) {
    const std::uint32_t s = top - k + 1;
    if (count - k >= batch_words && s >= 33 && s < 0x7FFFFFFCu) {
      const std::uint32_t* words = generator.slots_.data() + generator.base_ + index;
      if (index + batch_words > buffer_words) {
        // The batch runs into the next refill's words: line them up after the last ones
        // of this buffer (computing them now if they are not yet).
        if (index >= buffer_words) {
          generator.refill();
          index = 0;
          continue;
        }
        if (generator.ahead_ == 0) generator.compute_ahead();
        const std::size_t here = buffer_words - index;
        const std::uint32_t* next =
            generator.slots_.data() + ChaCha12Generator::next_slot(generator.base_);
        for (std::size_t t = 0; t < here; ++t) straddle[t] = words[t];
        for (std::size_t t = here; t < batch_words; ++t) straddle[t] = next[t - here];
        words = straddle;
      }
      const Batch batch = draw16(words, s, js + k);
      k += batch.draws;
      index += batch.words;
      if (index >= buffer_words) {
        const std::size_t beyond = index - buffer_words;
        generator.refill();
        index = beyond;
      }
      continue;
    }
    const std::uint32_t zone = (s << __builtin_clz(s)) - 1u;
    for (;;) {
      if (index >= buffer_words) {
        generator.refill();
        index = 0;
      }
      const std::uint64_t m = std::uint64_t{generator.slots_[generator.base_ + index++]} * s;
      if (static_cast<std::uint32_t>(m) <= zone) {
        js[k++] = static_cast<std::uint32_t>(m >> 32);
        break;
      }
    }
  }
  generator.index_ = index;
}

}  // namespace tazmir::stats
#endif  // TAZMIR_X86
