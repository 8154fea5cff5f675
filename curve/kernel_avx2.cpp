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

// The cubic kCubicAt[n - kFirstNm], for `offset` = 32 n bytes with n from
// kFirstNm to kLastNm.
[[gnu::target("avx2")]] inline const double* CubicAt(std::uint64_t offset) {
  static_assert(sizeof(Cubic) == 32);
  return reinterpret_cast<const double*>(reinterpret_cast<const char*>(kCubicAt.data()) +
                                         (offset - kFirstNm * sizeof(Cubic)));
}

// c0 c1 of the cubic at `a`, then c0 c1 of the cubic at `b`: a blend that
// reads `a` from memory and a broadcast load of `b`'s first half, no
// shuffle.
[[gnu::target("avx2")]] inline __m256d LowOfBoth(const double* a, const double* b) {
  return _mm256_blend_pd(_mm256_load_pd(a),
                         _mm256_broadcast_pd(reinterpret_cast<const __m128d*>(b)), 0b1100);
}

// c2 c3 of the cubic at `a`, then c2 c3 of the cubic at `b`, likewise.
[[gnu::target("avx2")]] inline __m256d HighOfBoth(const double* a, const double* b) {
  return _mm256_blend_pd(_mm256_broadcast_pd(reinterpret_cast<const __m128d*>(a + 2)),
                         _mm256_load_pd(b), 0b1100);
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
  // Each lane's whole nanometres times the size of a cubic, two lanes to a
  // 64-bit register; the first bound is taken off in the load's address.
  const __m128i offset = _mm_slli_epi32(_mm256_cvttpd_epi32(x), 5);
  const auto low = static_cast<std::uint64_t>(_mm_cvtsi128_si64(offset));
  const auto high = static_cast<std::uint64_t>(_mm_extract_epi64(offset, 1));
  const double* r0 = CubicAt(low & 0xFFFF'FFFF);
  const double* r1 = CubicAt(low >> 32);
  const double* r2 = CubicAt(high & 0xFFFF'FFFF);
  const double* r3 = CubicAt(high >> 32);
  // The four cubics, turned into one vector per coefficient: lanes 0 and 2,
  // and 1 and 3, side by side, then each pair unpacked.
  const __m256d low02 = LowOfBoth(r0, r2);  // c0 c1 of 0, of 2
  const __m256d low13 = LowOfBoth(r1, r3);
  const __m256d high02 = HighOfBoth(r0, r2);  // c2 c3 of 0, of 2
  const __m256d high13 = HighOfBoth(r1, r3);
  const __m256d c0 = _mm256_unpacklo_pd(low02, low13);
  const __m256d c1 = _mm256_unpackhi_pd(low02, low13);
  const __m256d c2 = _mm256_unpacklo_pd(high02, high13);
  const __m256d c3 = _mm256_unpackhi_pd(high02, high13);
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
  // Eight wavelengths a step, two independent groups of four; each group is
  // read before its brightness is written, so the two arrays may be one.
  if (count < kStreamFrom) {
    for (; count - i >= 8; i += 8) {
      const __m256d first = Four(wavelengths + i);
      const __m256d second = Four(wavelengths + i + 4);
      _mm256_storeu_pd(brightness + i, first);
      _mm256_storeu_pd(brightness + i + 4, second);
    }
    if (count - i >= 4) {
      _mm256_storeu_pd(brightness + i, Four(wavelengths + i));
      i += 4;
    }
  } else {
    // An output larger than the caches is written past them, as memcpy
    // writes one, so that its lines are not first read in to be written.
    // The streaming stores take 32 bytes aligned to 32: up to there, one
    // by one.
    for (; i < count && reinterpret_cast<std::uintptr_t>(brightness + i) % 32 != 0; ++i) {
      brightness[i] = Brightness(kSegmentTable, wavelengths[i]);
    }
    for (; count - i >= 8; i += 8) {
      const __m256d first = Four(wavelengths + i);
      const __m256d second = Four(wavelengths + i + 4);
      _mm256_stream_pd(brightness + i, first);
      _mm256_stream_pd(brightness + i + 4, second);
    }
    if (count - i >= 4) {
      _mm256_stream_pd(brightness + i, Four(wavelengths + i));
      i += 4;
    }
    // The streamed stores are seen before whatever the caller stores next.
    _mm_sfence();
  }
  BrightnessOfEach(kSegmentTable, wavelengths + i, brightness + i, count - i);
}

}  // namespace helligkeit

#endif
