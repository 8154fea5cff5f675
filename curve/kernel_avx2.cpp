// The array evaluation four wavelengths at a time with AVX2, which amd64
// processors have had since 2013: compiled for it by the target attribute
// alone and run only where the processor reports it (kernel_choice.cpp).
#include "curve/kernels.h"

#if defined(__x86_64__)

#include <immintrin.h>

#include <cstdint>

#include "curve/curve.h"

namespace helligkeit {

namespace {

// From this many wavelengths on (2 MiB of output, more than a core's own
// caches hold), the brightness is written past the caches.
constexpr std::size_t kStreamFrom = std::size_t{1} << 18;

// The cubic at byte `offset` into kCubicAt.
[[gnu::target("avx2")]] inline __m256d CubicAt(std::uint64_t offset) {
  return _mm256_load_pd(
      reinterpret_cast<const double*>(reinterpret_cast<const char*>(kCubicAt.data()) + offset));
}

// The brightness at the four wavelengths at `wavelengths`.
[[gnu::target("avx2")]] inline __m256d Four(const double* wavelengths) {
  const __m256d first = _mm256_set1_pd(kFirstNm);
  const __m256d last = _mm256_set1_pd(kLastNm);
  const __m256d wavelength = _mm256_loadu_pd(wavelengths);
  // The wavelength held within the bounds: max gives its second operand,
  // the first bound, for a NaN. A lane outside the rows computes a bound's
  // cubic and is cleared at the end, so that no infinity or NaN enters the
  // arithmetic or the look-up.
  const __m256d x = _mm256_min_pd(_mm256_max_pd(wavelength, first), last);
  // All ones in the lanes that a row holds: those that the bounds left as
  // they were (-0.0 became the first bound), quietly false for NaN.
  const __m256d held = _mm256_cmp_pd(x, wavelength, _CMP_EQ_OQ);
  // Each lane's byte offset into kCubicAt, 0 to 400 cubics, two lanes to a
  // 64-bit register.
  const __m128i nm = _mm_sub_epi32(_mm256_cvttpd_epi32(x), _mm_set1_epi32(kFirstNm));
  const __m128i offset = _mm_slli_epi32(nm, 5);
  static_assert(sizeof(Cubic) == 32);
  const auto low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(offset));
  const auto high = static_cast<std::uint64_t>(_mm_extract_epi64(offset, 1));
  // The four cubics, turned into one vector per coefficient: loads and
  // shuffles, which on the processors measured beat four gathers.
  const __m256d r0 = CubicAt(low & 0xFFFF'FFFF);
  const __m256d r1 = CubicAt(low >> 32);
  const __m256d r2 = CubicAt(high & 0xFFFF'FFFF);
  const __m256d r3 = CubicAt(high >> 32);
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
  return _mm256_and_pd(cubic, held);
}

}  // namespace

[[gnu::target("avx2")]] void BrightnessAvx2(const double* wavelengths, double* brightness,
                                            std::size_t count) {
  std::size_t i = 0;
  // Each group of four is read before its brightness is written, so the two
  // arrays may be one.
  if (count < kStreamFrom) {
    for (; count - i >= 4; i += 4) {
      _mm256_storeu_pd(brightness + i, Four(wavelengths + i));
    }
  } else {
    // An output larger than the caches is written past them, as memcpy
    // writes one, so that its lines are not first read in to be written.
    // The streaming stores take 32 bytes aligned to 32: up to there, one
    // by one.
    for (; i < count && reinterpret_cast<std::uintptr_t>(brightness + i) % 32 != 0; ++i) {
      brightness[i] = Brightness(kSegmentTable, wavelengths[i]);
    }
    for (; count - i >= 4; i += 4) {
      _mm256_stream_pd(brightness + i, Four(wavelengths + i));
    }
    // The streamed stores are seen before whatever the caller stores next.
    _mm_sfence();
  }
  BrightnessOfEach(kSegmentTable, wavelengths + i, brightness + i, count - i);
}

}  // namespace helligkeit

#endif
