// Fisher-Yates index draws sixteen words at a time, word for word as the scalar rule: one
// template over the vector width, compiled with four lanes for the baseline processor and,
// on x86, with eight for AVX2.
#include <cstddef>
#include <utility>

#include "core/cpu.hpp"
#include "core/lanes.hpp"
#include "stats/chacha_generator.hpp"

#if TAZMIR_X86
#include <immintrin.h>  // the vector types of the builtins below
#endif


namespace tazmir::stats {

namespace {

// Lane k or-ed with lane k ^ Step, in every lane.
template <std::size_t Step, class V, std::size_t... I>
TAZMIR_INLINE V fold(V v, std::index_sequence<I...>) noexcept {
  return v | __builtin_shufflevector(v, v, (I ^ Step)...);
}

// One bit per lane of a comparison result (lanes all ones or all zeros), lane k at bit k:
// the sign-mask instruction on x86, else each lane keeps its own bit and halves are folded.
template <std::size_t N, class Mask>
TAZMIR_INLINE unsigned lane_bits(const Mask& mask) noexcept {
#if TAZMIR_X86
  // Builtins (unlike the intrinsic wrappers) are checked where they are finally expanded:
  // the eight-lane form only ever expands inside the AVX2 kernel.
  if constexpr (N == 4) {
    return static_cast<unsigned>(__builtin_ia32_movmskps(reinterpret_cast<__v4sf>(mask)));
  } else if constexpr (N == 8) {
    return static_cast<unsigned>(__builtin_ia32_movmskps256(reinterpret_cast<__v8sf>(mask)));
  }
#endif
  using U32 = simd::Lanes<std::uint32_t, N>;
  U32 bit;
  for (std::size_t k = 0; k < N; ++k) bit[k] = 1u << k;
  U32 bits = reinterpret_cast<U32>(mask) & bit;
  constexpr auto lanes = std::make_index_sequence<N>{};
  if constexpr (N >= 8) bits = fold<4>(bits, lanes);
  if constexpr (N >= 4) bits = fold<2>(bits, lanes);
  if constexpr (N >= 2) bits = fold<1>(bits, lanes);
  return bits[0];
}

// The high words of the 32 x 32 -> 64-bit products of each lane: the even lanes' and the odd
// lanes' products are formed separately (the x86 unsigned multiply of even lanes where there
// is one) and their high words put back in place.
template <std::size_t N>
TAZMIR_INLINE simd::Lanes<std::uint32_t, N> mul_high(simd::Lanes<std::uint32_t, N> a,
                                                     simd::Lanes<std::uint32_t, N> b) noexcept {
  using U32 = simd::Lanes<std::uint32_t, N>;
  using U64 = simd::Lanes<std::uint64_t, N / 2>;
  const U64 low32 = simd::splat<U64>(0xFFFFFFFFu);
  const U64 a_odd = reinterpret_cast<U64>(a) >> 32;
  const U64 b_odd = reinterpret_cast<U64>(b) >> 32;
  U64 even;
  U64 odd;
#if TAZMIR_X86
  if constexpr (N == 8) {
    even = reinterpret_cast<U64>(__builtin_ia32_pmuludq256(reinterpret_cast<__v8si>(a),
                                                           reinterpret_cast<__v8si>(b)));
    odd = reinterpret_cast<U64>(__builtin_ia32_pmuludq256(reinterpret_cast<__v8si>(a_odd),
                                                          reinterpret_cast<__v8si>(b_odd)));
  } else if constexpr (N == 4) {
    even = reinterpret_cast<U64>(__builtin_ia32_pmuludq128(reinterpret_cast<__v4si>(a),
                                                           reinterpret_cast<__v4si>(b)));
    odd = reinterpret_cast<U64>(__builtin_ia32_pmuludq128(reinterpret_cast<__v4si>(a_odd),
                                                          reinterpret_cast<__v4si>(b_odd)));
  } else
#endif
  {
    even = (reinterpret_cast<U64>(a) & low32) * (reinterpret_cast<U64>(b) & low32);
    odd = a_odd * b_odd;
  }
  return reinterpret_cast<U32>((even >> 32) | (odd & ~low32));
}

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
template <std::size_t N>
TAZMIR_INLINE Batch draw16(const std::uint32_t* words, std::uint32_t s0,
                           std::uint32_t* js) noexcept {
  using U32 = simd::Lanes<std::uint32_t, N>;
  using I32 = simd::Lanes<std::int32_t, N>;
  constexpr std::size_t vectors = batch_words / N;
  U32 lane;
  for (std::size_t k = 0; k < N; ++k) lane[k] = static_cast<std::uint32_t>(k);
  U32 w[vectors];
  for (std::size_t v = 0; v < vectors; ++v) w[v] = simd::load<U32>(words + N * v);
  // The bounds lie in [s0 - 15, s0 + 3]: their leading-zero counts are clz(s0 + 3) or
  // one more, below the power of two `half`.
  const auto lz_top = static_cast<std::uint32_t>(__builtin_clz(s0 + 3));
  const U32 half = simd::splat<U32>(1u << (31 - lz_top));
  const U32 lz = simd::splat<U32>(lz_top);

  // Row h: the high words of the products under hypothesis h, then zeros that the shifted
  // reads below may take in (never as a result).
  std::uint32_t high[hypotheses][batch_words + 4];
  unsigned refused[hypotheses];
  for (int h = 0; h < hypotheses; ++h) {
    for (std::uint32_t t = batch_words; t < batch_words + 4; ++t) high[h][t] = 0;
    unsigned bits = 0;
    for (std::size_t v = 0; v < vectors; ++v) {
      const U32 bound = simd::splat<U32>(s0 + static_cast<std::uint32_t>(h) -
                                         static_cast<std::uint32_t>(N * v)) - lane;
      // Both below 2^31, so the signed comparison is the unsigned one.
      const U32 extra =
          reinterpret_cast<U32>(reinterpret_cast<I32>(half) > reinterpret_cast<I32>(bound)) &
          simd::splat<U32>(1u);
      const U32 zone = (bound << (lz + extra)) - 1u;
      simd::store(high[h] + N * v, mul_high<N>(w[v], bound));  // the draws
      const auto over = w[v] * bound > zone;  // the low word beyond the zone: refused
      bits |= lane_bits<N>(over) << (N * v);
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
  for (std::size_t v = 0; v < vectors; ++v) {
    const U32 draw = lane + static_cast<std::uint32_t>(N * v);
    U32 result = simd::load<U32>(high[0] + N * v);
    for (int h = 1; h < hypotheses; ++h) {
      // Once the words ran out under an earlier hypothesis, this one is never in force.
      const std::uint32_t first_draw =
          r[h - 1] < batch_words ? r[h - 1] - static_cast<unsigned>(h - 1) : 32u;
      const U32 earlier = reinterpret_cast<U32>(simd::splat<I32>(static_cast<int>(first_draw)) >
                                                reinterpret_cast<I32>(draw));
      const U32 shifted = simd::load<U32>(high[h] + N * v + static_cast<std::size_t>(h));
      result = (earlier & result) | (~earlier & shifted);
    }
    simd::store(js + N * v, result);
  }
  return {used - rejections, used};
}

}  // namespace

// The batches of a descending run, and single words where a batch does not apply.
template <std::size_t N>
TAZMIR_INLINE void ChaCha12Generator::draw_descending_lanes(ChaCha12Generator& generator,
                                                            std::uint32_t top,
                                                            std::uint32_t count,
                                                            std::uint32_t* js) noexcept {

  constexpr std::size_t buffer_words = ChaCha12Generator::buffer_words;
  std::size_t index = generator.index_;
  std::uint32_t k = 0;
  std::uint32_t straddle[batch_words];
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
      const Batch batch = draw16<N>(words, s, js + k);
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

void draw_descending_batched(ChaCha12Generator& generator, std::uint32_t top,
                             std::uint32_t count, std::uint32_t* js) noexcept {
  ChaCha12Generator::draw_descending_lanes<4>(generator, top, count, js);
}

#if TAZMIR_X86
TAZMIR_AVX2 void draw_descending_avx2(ChaCha12Generator& generator, std::uint32_t top,
                                      std::uint32_t count, std::uint32_t* js) noexcept {
  ChaCha12Generator::draw_descending_lanes<8>(generator, top, count, js);
}
#endif

}  // namespace tazmir::stats
