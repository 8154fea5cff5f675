// The array evaluation four wavelengths at a time with AVX2, which amd64
// processors have had since 2013: compiled for it by the target attribute
// alone and run only where the processor reports it (kernel_choice.cpp).
#include "curve/kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "curve/curve.h"
#include "curve/kernel_blocks.h"

namespace helligkeit {

namespace {

// The first pass over `count` wavelengths, a multiple of 4.
[[gnu::target("avx2")]] inline void Locate(const double* wavelengths, std::size_t count,
                                           Located& located) {
  const __m256d first = _mm256_set1_pd(kFirstNm);
  const __m256d last = _mm256_set1_pd(kLastNm);
  const __m256d outside = _mm256_set1_pd(kLastNm + 1);
  for (std::size_t i = 0; i < count; i += 4) {
    const __m256d wavelength = _mm256_loadu_pd(wavelengths + i);
    // The wavelength held within the bounds: max gives its second operand,
    // the first bound, for a NaN. So no infinity or NaN enters the
    // arithmetic or the look-up.
    const __m256d x = _mm256_min_pd(_mm256_max_pd(wavelength, first), last);
    // All ones in the lanes that a row holds: those that the bounds left as
    // they were (-0.0 became the first bound), quietly false for NaN.
    const __m256d held = _mm256_cmp_pd(x, wavelength, _CMP_EQ_OQ);
    // A lane that no row holds takes the all-zero cubic after the last
    // nanometre's, which gives +0.0.
    const __m256d nm = _mm256_blendv_pd(outside, x, held);
    // The stores are unaligned ones: not every compiler for Windows aligns
    // the stack to 32 bytes.
    _mm256_storeu_pd(located.x + i, x);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(located.offset + i),
                     _mm_slli_epi32(_mm256_cvttpd_epi32(nm), 5));
  }
}

// The brightness at four located wavelengths.
[[gnu::target("avx2")]] inline __m256d Four(const std::uint32_t* offset, const double* at) {
  // The four cubics, one per lane, turned into one vector per coefficient:
  // the halves of lanes 0 and 2, and of 1 and 3, side by side, then each
  // pair unpacked.
  const __m256d r0 = _mm256_load_pd(CubicAt(offset[0]));
  const __m256d r1 = _mm256_load_pd(CubicAt(offset[1]));
  const __m256d r2 = _mm256_load_pd(CubicAt(offset[2]));
  const __m256d r3 = _mm256_load_pd(CubicAt(offset[3]));
  const __m256d low02 = _mm256_permute2f128_pd(r0, r2, 0x20);   // c0 c1 of 0, of 2
  const __m256d high02 = _mm256_permute2f128_pd(r0, r2, 0x31);  // c2 c3 of 0, of 2
  const __m256d low13 = _mm256_permute2f128_pd(r1, r3, 0x20);
  const __m256d high13 = _mm256_permute2f128_pd(r1, r3, 0x31);
  const __m256d c0 = _mm256_unpacklo_pd(low02, low13);
  const __m256d c1 = _mm256_unpackhi_pd(low02, low13);
  const __m256d c2 = _mm256_unpacklo_pd(high02, high13);
  const __m256d c3 = _mm256_unpackhi_pd(high02, high13);
  const __m256d x = _mm256_loadu_pd(at);
  // Brightness()'s operations in its order, each rounding as the scalar
  // one does (the target has no fused multiply-add).
  return _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(c0, _mm256_mul_pd(c1, x)),
                                     _mm256_mul_pd(_mm256_mul_pd(c2, x), x)),
                       _mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(c3, x), x), x));
}

// Both passes over `count` wavelengths, a multiple of 8, eight a step. Each
// block is read whole before its brightness is written, so the two arrays
// may be one.
template <bool kStream>
[[gnu::target("avx2")]] void Blocks(const double* wavelengths, double* brightness,
                                    std::size_t count) {
  Located located;
  for (std::size_t from = 0; from < count; from += kBlock) {
    const std::size_t size = count - from < kBlock ? count - from : kBlock;
    Locate(wavelengths + from, size, located);
    for (std::size_t i = 0; i < size; i += 8) {
      _mm_prefetch(Ahead(wavelengths + from + i), _MM_HINT_T0);
      const __m256d first = Four(located.offset + i, located.x + i);
      const __m256d second = Four(located.offset + i + 4, located.x + i + 4);
      if constexpr (kStream) {
        _mm256_stream_pd(brightness + from + i, first);
        _mm256_stream_pd(brightness + from + i + 4, second);
      } else {
        _mm256_storeu_pd(brightness + from + i, first);
        _mm256_storeu_pd(brightness + from + i + 4, second);
      }
    }
  }
}

}  // namespace

void BrightnessAvx2(const double* wavelengths, double* brightness, std::size_t count) {
  InBlocks(wavelengths, brightness, count, 32, Blocks<false>, Blocks<true>);
}

}  // namespace helligkeit

#endif
