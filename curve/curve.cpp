#include "curve/curve.h"

#include <array>
#include <cstdint>
#include <iterator>

namespace helligkeit {

namespace {

// The stored rows, row after row: lower, upper, c0, c1, c2, c3. Generated
// from the knot table by tools/generate_segments.py.
constexpr double kStoredRows[] = {
#include "curve/segment_data.inc"
};
constexpr int kRows = SegmentTable::kRows;
static_assert(std::size(kStoredRows) == kRows * 6);

constexpr double Lower(int k) {
  return kStoredRows[(k - 1) * 6];
}
constexpr double Upper(int k) {
  return kStoredRows[(k - 1) * 6 + 1];
}

static_assert(kFirstNm == Lower(1) && kLastNm == Upper(kRows));

// Every bound is a whole number, every row ends where the next begins, and
// none is empty.
constexpr bool BoundsAreWholeAndJoined() {
  for (int k = 1; k <= kRows; ++k) {
    if (Lower(k) != static_cast<int>(Lower(k)) || Upper(k) != static_cast<int>(Upper(k)) ||
        !(Lower(k) < Upper(k)) || (k < kRows && Upper(k) != Lower(k + 1))) {
      return false;
    }
  }
  return true;
}
static_assert(BoundsAreWholeAndJoined());

// For each whole nanometre n from the first bound to the last, the row that
// the rows' own rule picks at n: the last row whose bounds hold it, so the
// later of two rows on a shared bound. With bounds that are whole numbers
// and rows that join, that row also holds every wavelength between n and
// n + 1, so a wavelength's whole part finds its row. (Row numbers fit a
// byte.)
constexpr auto kRowIndex = [] {
  std::array<std::uint8_t, kLastNm - kFirstNm + 1> row_at{};
  for (int n = kFirstNm; n <= kLastNm; ++n) {
    for (int k = 1; k <= kRows; ++k) {
      if (Lower(k) <= n && n <= Upper(k)) {
        row_at[static_cast<std::size_t>(n - kFirstNm)] = static_cast<std::uint8_t>(k);
      }
    }
  }
  return row_at;
}();
static_assert(kRows <= UINT8_MAX);

// The rows' cubics: row k at index k, index 0 all 0.0.
constexpr auto kCubicRows = [] {
  std::array<Cubic, kRows + 1> cubics{};
  for (int k = 1; k <= kRows; ++k) {
    for (int i = 0; i < 4; ++i) {
      cubics[static_cast<std::size_t>(k)].c[i] = kStoredRows[(k - 1) * 6 + 2 + i];
    }
  }
  return cubics;
}();

constexpr void Fill(SegmentTable& table) {
  // One read cursor over the block, moving on by one value per value read.
  const double* cursor = kStoredRows;
  for (int k = 1; k <= kRows; ++k) {
    table.lower[k] = *cursor++;
    table.upper[k] = *cursor++;
    table.c0[k] = *cursor++;
    table.c1[k] = *cursor++;
    table.c2[k] = *cursor++;
    table.c3[k] = *cursor++;
  }
}

constexpr SegmentTable Filled() {
  SegmentTable table{};
  Fill(table);
  return table;
}

}  // namespace

constinit const SegmentTable kSegmentTable = Filled();

constinit const std::array<std::uint8_t, kLastNm - kFirstNm + 1> kRowAt = kRowIndex;

constinit const std::array<Cubic, kLastNm - kFirstNm + 2> kCubicAt = [] {
  // The last stays all 0.0.
  std::array<Cubic, kLastNm - kFirstNm + 2> cubics{};
  for (std::size_t n = 0; n < kRowIndex.size(); ++n) {
    cubics[n] = kCubicRows[kRowIndex[n]];
  }
  return cubics;
}();

void FillSegmentTable(SegmentTable& table) {
  Fill(table);
}

double Brightness(const SegmentTable& table, double wavelength) {
  const double x = wavelength;
  // False for NaN as well.
  if (!(x >= kFirstNm && x <= kLastNm)) {
    return 0.0;
  }
  const int k = kRowAt[static_cast<std::size_t>(static_cast<int>(x) - kFirstNm)];
  // Every multiplication and addition a double operation, in this order
  // (the build allows no fused multiply-add).
  return ((table.c0[k] + table.c1[k] * x) + (table.c2[k] * x) * x) + ((table.c3[k] * x) * x) * x;
}

void BrightnessOfEach(const SegmentTable& table, const double* wavelengths, double* brightness,
                      std::size_t count) {
  // Each wavelength is read before its own brightness is written, so the
  // two arrays may be one.
  for (std::size_t i = 0; i < count; ++i) {
    brightness[i] = Brightness(table, wavelengths[i]);
  }
}

}  // namespace helligkeit
