// The array evaluation four wavelengths at a time with AVX2, which amd64
// processors have had since 2013: compiled for it by the target attribute
// alone and run only where the processor reports it (kernel_choice.cpp).
#include "curve/kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include "curve/curve.h"

namespace helligkeit {

namespace {

// The cubic of the row that holds the whole nanometre `nm`.
[[gnu::target("avx2")]] inline __m256d CubicAt(int nm) {
  return _mm256_loadu_pd(kCubics[kRowAt[static_cast<std::size_t>(nm - kFirstNm)]].c);
}

}  // namespace

[[gnu::target("avx2")]] void BrightnessAvx2(const double* wavelengths, double* brightness,
                                            std::size_t count) {
  const __m256d first = _mm256_set1_pd(kFirstNm);
  const __m256d last = _mm256_set1_pd(kLastNm);
  std::size_t i = 0;
  // Each group of four is read before its brightness is written, so the two
  // arrays may be one.
  for (; count - i >= 4; i += 4) {
    const __m256d wavelength = _mm256_loadu_pd(wavelengths + i);
    // All ones in the lanes that a row holds; false for NaN, and quiet.
    const __m256d held = _mm256_and_pd(_mm256_cmp_pd(wavelength, first, _CMP_GE_OQ),
                                       _mm256_cmp_pd(wavelength, last, _CMP_LE_OQ));
    // A lane outside the rows computes the first bound's cubic and is
    // cleared at the end, so that no infinity or NaN enters the arithmetic
    // and raises a floating-point flag.
    const __m256d x = _mm256_blendv_pd(first, wavelength, held);
    const __m128i whole_nm = _mm256_cvttpd_epi32(x);
    // Each lane's row, then the four rows' coefficients turned into one
    // vector per coefficient: loads and shuffles, which on the processors
    // measured beat four gathers.
    const __m256d r0 = CubicAt(_mm_cvtsi128_si32(whole_nm));
    const __m256d r1 = CubicAt(_mm_extract_epi32(whole_nm, 1));
    const __m256d r2 = CubicAt(_mm_extract_epi32(whole_nm, 2));
    const __m256d r3 = CubicAt(_mm_extract_epi32(whole_nm, 3));
    const __m256d even01 = _mm256_unpacklo_pd(r0, r1);  // c0 c0 c2 c2 of lanes 0 1 0 1
    const __m256d odd01 = _mm256_unpackhi_pd(r0, r1);   // c1 c1 c3 c3
    const __m256d even23 = _mm256_unpacklo_pd(r2, r3);
    const __m256d odd23 = _mm256_unpackhi_pd(r2, r3);
    const __m256d c0 = _mm256_permute2f128_pd(even01, even23, 0x20);
    const __m256d c1 = _mm256_permute2f128_pd(odd01, odd23, 0x20);
    const __m256d c2 = _mm256_permute2f128_pd(even01, even23, 0x31);
    const __m256d c3 = _mm256_permute2f128_pd(odd01, odd23, 0x31);
    // Brightness()'s operations in its order, each rounding as the scalar
    // one does (the target has no fused multiply-add).
    const __m256d cubic = _mm256_add_pd(_mm256_add_pd(_mm256_add_pd(c0, _mm256_mul_pd(c1, x)),
                                                      _mm256_mul_pd(_mm256_mul_pd(c2, x), x)),
                                        _mm256_mul_pd(_mm256_mul_pd(_mm256_mul_pd(c3, x), x), x));
    // +0.0 where no row holds the wavelength.
    _mm256_storeu_pd(brightness + i, _mm256_and_pd(cubic, held));
  }
  BrightnessOfEach(kSegmentTable, wavelengths + i, brightness + i, count - i);
}

}  // namespace helligkeit

#endif
