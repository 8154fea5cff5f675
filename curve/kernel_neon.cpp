// The array evaluation two wavelengths at a time with the Advanced SIMD
// (NEON) unit, which every arm64 processor has.
#include "curve/kernels.h"

#if defined(__aarch64__) && defined(__ARM_NEON)

#include <arm_neon.h>

#include "curve/curve.h"

namespace helligkeit {

namespace {

// The cubic of the whole nanometre in lane `lane` of `whole_nm`.
template <int lane>
const double* CubicAt(int64x2_t whole_nm) {
  return kCubicAt[static_cast<std::size_t>(vgetq_lane_s64(whole_nm, lane) - kFirstNm)].c;
}

}  // namespace

void BrightnessNeon(const double* wavelengths, double* brightness, std::size_t count) {
  const float64x2_t first = vdupq_n_f64(kFirstNm);
  const float64x2_t last = vdupq_n_f64(kLastNm);
  std::size_t i = 0;
  // Each pair is read before its brightness is written, so the two arrays
  // may be one.
  for (; count - i >= 2; i += 2) {
    const float64x2_t wavelength = vld1q_f64(wavelengths + i);
    // All ones in the lanes that a row holds; false for NaN.
    const uint64x2_t held = vandq_u64(vcgeq_f64(wavelength, first), vcleq_f64(wavelength, last));
    // A lane outside the rows computes the first bound's cubic and is
    // cleared at the end, so that no infinity or NaN enters the arithmetic.
    const float64x2_t x = vbslq_f64(held, wavelength, first);
    const int64x2_t whole_nm = vcvtq_s64_f64(x);
    const double* low = CubicAt<0>(whole_nm);
    const double* high = CubicAt<1>(whole_nm);
    const float64x2_t low01 = vld1q_f64(low);
    const float64x2_t high01 = vld1q_f64(high);
    const float64x2_t low23 = vld1q_f64(low + 2);
    const float64x2_t high23 = vld1q_f64(high + 2);
    const float64x2_t c0 = vzip1q_f64(low01, high01);
    const float64x2_t c1 = vzip2q_f64(low01, high01);
    const float64x2_t c2 = vzip1q_f64(low23, high23);
    const float64x2_t c3 = vzip2q_f64(low23, high23);
    // Brightness()'s operations in its order; the build contracts none of
    // them into a fused multiply-add.
    const float64x2_t cubic =
        vaddq_f64(vaddq_f64(vaddq_f64(c0, vmulq_f64(c1, x)), vmulq_f64(vmulq_f64(c2, x), x)),
                  vmulq_f64(vmulq_f64(vmulq_f64(c3, x), x), x));
    // +0.0 where no row holds the wavelength.
    vst1q_f64(brightness + i, vreinterpretq_f64_u64(vandq_u64(vreinterpretq_u64_f64(cubic), held)));
  }
  BrightnessOfEach(kSegmentTable, wavelengths + i, brightness + i, count - i);
}

}  // namespace helligkeit

#endif
