// The array evaluation eight wavelengths at a time with AVX-512 (its
// foundation, AVX512F): compiled for it by the target attribute alone and
// run only where the processor reports it (kernel_choice.cpp). Its passes
// are the AVX2 kernel's in half the instructions, which leaves the
// processor room to keep more of a large array's reads in flight: from
// memory it comes closer to a copy's speed.
#include "curve/kernels.h"

#if defined(__x86_64__)

// GCC 12 takes the undefined vector that the AVX-512 intrinsics pass for
// their unused masked lanes for a variable read before it is set.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <cstdint>

#include "curve/curve.h"
#include "curve/kernel_blocks.h"

namespace helligkeit {

namespace {

// The first pass over `count` wavelengths, a multiple of 8.
[[gnu::target("avx512f")]] inline void Locate(const double* wavelengths, std::size_t count,
                                              Located& located) {
  const __m512d first = _mm512_set1_pd(kFirstNm);
  const __m512d last = _mm512_set1_pd(kLastNm);
  const __m512d outside = _mm512_set1_pd(kLastNm + 1);
  for (std::size_t i = 0; i < count; i += 8) {
    const __m512d wavelength = _mm512_loadu_pd(wavelengths + i);
    // As in the AVX2 kernel: the wavelength held within the bounds (the
    // first bound for a NaN), the lanes that it leaves as they were, and the
    // all-zero cubic for the others.
    const __m512d x = _mm512_min_pd(_mm512_max_pd(wavelength, first), last);
    const __mmask8 held = _mm512_cmp_pd_mask(x, wavelength, _CMP_EQ_OQ);
    const __m512d nm = _mm512_mask_blend_pd(held, outside, x);
    _mm512_storeu_pd(located.x + i, x);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(located.offset + i),
                        _mm256_slli_epi32(_mm512_cvttpd_epi32(nm), 5));
  }
}

// The cubics at `first_offset` and, in the upper half, `second_offset`.
[[gnu::target("avx512f")]] inline __m512d TwoCubics(std::uint32_t first_offset,
                                                    std::uint32_t second_offset) {
  return _mm512_insertf64x4(_mm512_castpd256_pd512(_mm256_load_pd(CubicAt(first_offset))),
                            _mm256_load_pd(CubicAt(second_offset)), 1);
}

// The brightness at eight located wavelengths.
[[gnu::target("avx512f")]] inline __m512d Eight(const std::uint32_t* offset, const double* at) {
  // The eight cubics, turned into one vector per coefficient. Lanes 0 and 2
  // side by side, 1 and 3, 4 and 6, 5 and 7; unpacked in pairs, c0 and c2
  // of lanes 0, 1, 2, 3 (and c1 and c3) lie in the 128-bit quarters of one
  // vector, those of lanes 4 to 7 in the other's, and one shuffle each puts
  // the quarters in order.
  const __m512d r02 = TwoCubics(offset[0], offset[2]);
  const __m512d r13 = TwoCubics(offset[1], offset[3]);
  const __m512d r46 = TwoCubics(offset[4], offset[6]);
  const __m512d r57 = TwoCubics(offset[5], offset[7]);
  const __m512d even_low = _mm512_unpacklo_pd(r02, r13);  // c0 c0, c2 c2 of 0 1; of 2 3
  const __m512d even_high = _mm512_unpacklo_pd(r46, r57);
  const __m512d odd_low = _mm512_unpackhi_pd(r02, r13);  // c1 c1, c3 c3 of 0 1; of 2 3
  const __m512d odd_high = _mm512_unpackhi_pd(r46, r57);
  const __m512d c0 = _mm512_shuffle_f64x2(even_low, even_high, 0b10'00'10'00);
  const __m512d c2 = _mm512_shuffle_f64x2(even_low, even_high, 0b11'01'11'01);
  const __m512d c1 = _mm512_shuffle_f64x2(odd_low, odd_high, 0b10'00'10'00);
  const __m512d c3 = _mm512_shuffle_f64x2(odd_low, odd_high, 0b11'01'11'01);
  const __m512d x = _mm512_loadu_pd(at);
  // Brightness()'s operations in its order, each rounding as the scalar one
  // does: the target has fused multiply-add, which the build never lets the
  // compiler use for these.
  return _mm512_add_pd(_mm512_add_pd(_mm512_add_pd(c0, _mm512_mul_pd(c1, x)),
                                     _mm512_mul_pd(_mm512_mul_pd(c2, x), x)),
                       _mm512_mul_pd(_mm512_mul_pd(_mm512_mul_pd(c3, x), x), x));
}

// Both passes over `count` wavelengths, a multiple of 8, eight a step: one
// cache line of brightness. Each block is read whole before its brightness
// is written, so the two arrays may be one.
template <bool kStream>
[[gnu::target("avx512f")]] void Blocks(const double* wavelengths, double* brightness,
                                       std::size_t count) {
  Located located;
  for (std::size_t from = 0; from < count; from += kBlock) {
    const std::size_t size = count - from < kBlock ? count - from : kBlock;
    Locate(wavelengths + from, size, located);
    for (std::size_t i = 0; i < size; i += 8) {
      _mm_prefetch(Ahead(wavelengths + from + i), _MM_HINT_T0);
      const __m512d eight = Eight(located.offset + i, located.x + i);
      if constexpr (kStream) {
        _mm512_stream_pd(brightness + from + i, eight);
      } else {
        _mm512_storeu_pd(brightness + from + i, eight);
      }
    }
  }
}

}  // namespace

void BrightnessAvx512(const double* wavelengths, double* brightness, std::size_t count) {
  InBlocks(wavelengths, brightness, count, 64, Blocks<false>, Blocks<true>);
}

}  // namespace helligkeit

#endif
