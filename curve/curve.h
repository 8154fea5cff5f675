// The brightness curve: 87 cubic segments over 380-780 nm, stored once as
// constant data, and the one evaluation of it that the program and the
// library share. All of it is in namespace helligkeit, so that none of its
// names can clash with those of a program that links the static library.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace helligkeit {

// Six parallel arrays, one per column of the stored rows. Row k (1..87) is
// at index k; index 0 is never used and stays 0.0.
struct SegmentTable {
  static constexpr int kRows = 87;
  double lower[kRows + 1];
  double upper[kRows + 1];
  double c0[kRows + 1];
  double c1[kRows + 1];
  double c2[kRows + 1];
  double c3[kRows + 1];
};

// The stored rows in working form, filled in at compile time.
extern const SegmentTable kSegmentTable;

// Reads the stored constant block, row after row, into rows 1..87 of
// `table`; index 0 is left as it is.
void FillSegmentTable(SegmentTable& table);

// The brightness at `wavelength` nm on `table`, which holds the stored rows:
// the cubic of the last row whose bounds hold the wavelength (on a bound
// shared by two rows, the later row), or +0.0 when no row holds it, as for
// NaN and the infinities.
double Brightness(const SegmentTable& table, double wavelength);

// The whole nanometres from the first lower bound to the last upper bound.
inline constexpr int kFirstNm = 380;
inline constexpr int kLastNm = 780;

// For each whole nanometre n from kFirstNm to kLastNm, at n - kFirstNm, the
// row that Brightness() takes for every wavelength from n up to n + 1 (the
// later row on a shared bound).
extern const std::array<std::uint8_t, kLastNm - kFirstNm + 1> kRowAt;

// A row's four coefficients side by side, c[0] to c[3], so that the vector
// kernels fetch a row's cubic with one or two loads; within one cache line.
// 32 bytes, which the AVX kernels' byte offsets count in.
struct alignas(32) Cubic {
  double c[4];
};
static_assert(sizeof(Cubic) == 32);

// For each whole nanometre n from kFirstNm to kLastNm, at n - kFirstNm, the
// cubic of the row kRowAt[n - kFirstNm]: a wavelength's whole part finds its
// cubic with one load. After them, at kLastNm + 1 - kFirstNm, a cubic of all
// 0.0, which gives +0.0 for a wavelength that no row holds.
extern const std::array<Cubic, kLastNm - kFirstNm + 2> kCubicAt;

// Brightness() of each of `count` wavelengths; `brightness` may be
// `wavelengths` itself.
void BrightnessOfEach(const SegmentTable& table, const double* wavelengths, double* brightness,
                      std::size_t count);

}  // namespace helligkeit
