// The array evaluation two wavelengths at a time with SSE2, which every
// amd64 processor has.
#include "curve/kernels.h"

#if defined(__x86_64__)

#include <emmintrin.h>

#include <cstdint>

#include "curve/curve.h"

namespace helligkeit {

namespace {

// The cubic of the whole nanometre kFirstNm + `nm`.
inline const double* CubicAt(std::uint64_t nm) {
  return kCubicAt[nm].c;
}

}  // namespace

void BrightnessSse2(const double* wavelengths, double* brightness, std::size_t count) {
  const __m128d first = _mm_set1_pd(kFirstNm);
  const __m128d last = _mm_set1_pd(kLastNm);
  const __m128i first_nm = _mm_set1_epi32(kFirstNm);
  std::size_t i = 0;
  // Each pair is read before its brightness is written, so the two arrays
  // may be one.
  for (; count - i >= 2; i += 2) {
    const __m128d wavelength = _mm_loadu_pd(wavelengths + i);
    // The wavelength held within the bounds: max gives its second operand,
    // the first bound, for a NaN. A lane outside the rows computes a bound's
    // cubic and is cleared at the end, so that no infinity or NaN enters the
    // arithmetic or the look-up.
    const __m128d x = _mm_min_pd(_mm_max_pd(wavelength, first), last);
    // All ones in the lanes that a row holds: those that the bounds left as
    // they were (-0.0 became the first bound), false for NaN.
    const __m128d held = _mm_cmpeq_pd(x, wavelength);
    // Both lanes' whole nanometres from the first bound, 0 to 400, in one
    // 64-bit register.
    const auto nm =
        static_cast<std::uint64_t>(_mm_cvtsi128_si64(_mm_sub_epi32(_mm_cvttpd_epi32(x), first_nm)));
    const double* low = CubicAt(nm & 0xFFFF'FFFF);
    const double* high = CubicAt(nm >> 32);
    const __m128d low01 = _mm_loadu_pd(low);
    const __m128d high01 = _mm_loadu_pd(high);
    const __m128d low23 = _mm_loadu_pd(low + 2);
    const __m128d high23 = _mm_loadu_pd(high + 2);
    const __m128d c0 = _mm_unpacklo_pd(low01, high01);
    const __m128d c1 = _mm_unpackhi_pd(low01, high01);
    const __m128d c2 = _mm_unpacklo_pd(low23, high23);
    const __m128d c3 = _mm_unpackhi_pd(low23, high23);
    // Brightness()'s operations in its order (SSE2 has no fused
    // multiply-add).
    const __m128d cubic =
        _mm_add_pd(_mm_add_pd(_mm_add_pd(c0, _mm_mul_pd(c1, x)), _mm_mul_pd(_mm_mul_pd(c2, x), x)),
                   _mm_mul_pd(_mm_mul_pd(_mm_mul_pd(c3, x), x), x));
    // +0.0 where no row holds the wavelength.
    _mm_storeu_pd(brightness + i, _mm_and_pd(cubic, held));
  }
  BrightnessOfEach(kSegmentTable, wavelengths + i, brightness + i, count - i);
}

}  // namespace helligkeit

#endif
