#include "calculator/segment_table.h"

#include "curve/kernels.h"
#include "helligkeit.h"
#include "tests/test_support.h"
#include "text/number_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <iterator>
#include <limits>
#include <memory_resource>
#include <numeric>
#include <string>
#include <string_view>
#include <vector>

namespace {

using helligkeit::SegmentTable;

using Column = double[SegmentTable::kRows + 1];
constexpr Column SegmentTable::*kColumns[] = {&SegmentTable::lower, &SegmentTable::upper,
                                              &SegmentTable::c0,    &SegmentTable::c1,
                                              &SegmentTable::c2,    &SegmentTable::c3};

std::uint64_t Bits(double value) {
  return std::bit_cast<std::uint64_t>(value);
}

class SegmentTableTest : public testing::Test {
 protected:
  void SetUp() override {
    // Every block of this memory starts out as NaN, so a missing zero fill
    // shows; the table is released in bulk when the test ends.
    previous_ = std::pmr::set_default_resource(&resource_);
    LoadSegmentTable();
    ASSERT_EQ(resource_.allocations(), 1u);
    ASSERT_EQ(resource_.last_bytes(), sizeof(SegmentTable));
    table_ = static_cast<const SegmentTable*>(resource_.last_block());
  }
  void TearDown() override { std::pmr::set_default_resource(previous_); }

  // Row k's cubic at x, in the program's order of operations.
  double Cubic(int k, double x) const {
    const SegmentTable& t = *table_;
    return ((t.c0[k] + t.c1[k] * x) + (t.c2[k] * x) * x) + ((t.c3[k] * x) * x) * x;
  }

  // The brightness by testing every row in turn, each match overwriting the
  // result.
  double Scan(double x) const {
    double result = 0.0;
    for (int k = 1; k <= SegmentTable::kRows; ++k) {
      if (!(table_->lower[k] > x) && table_->upper[k] >= x) {
        result = Cubic(k, x);
      }
    }
    return result;
  }

  test_support::TestMemory resource_;
  std::pmr::memory_resource* previous_ = nullptr;
  const SegmentTable* table_ = nullptr;
};

TEST_F(SegmentTableTest, IndexZeroIsZeroInEveryColumn) {
  for (Column SegmentTable::*column : kColumns) {
    EXPECT_EQ(Bits((table_->*column)[0]), Bits(0.0));
  }
}

TEST_F(SegmentTableTest, RowsTile380To780InAscendingOrder) {
  const SegmentTable& t = *table_;
  EXPECT_EQ(t.lower[1], 380.0);
  EXPECT_EQ(t.upper[SegmentTable::kRows], 780.0);
  for (int k = 1; k <= SegmentTable::kRows; ++k) {
    SCOPED_TRACE(k);
    EXPECT_LT(t.lower[k], t.upper[k]);
    EXPECT_EQ(t.lower[k], std::floor(t.lower[k]));
    if (k < SegmentTable::kRows) {
      EXPECT_EQ(t.upper[k], t.lower[k + 1]);
    }
  }
}

TEST_F(SegmentTableTest, PinnedRowsAreStoredBitExactly) {
  struct PinnedRow {
    int row;
    double values[6];
  };
  static constexpr PinnedRow kPinned[] = {
      {1,
       {380, 385, -1468.5737123003337, 11.604158442938205, -0.030544284930915995,
        2.6793232396e-05}},
      {17,
       {460, 463, 785671.3003129521, -5111.0817886918985, 11.082562654880277,
        -0.008009784101332998}},
      {18,
       {463, 465, -1573777.0271734856, 10176.920333250462, -21.93688037307298, 0.015762313111016}},
      {31,
       {492, 493, -52834793.95619169, 321499.7305969523, -652.1185831958112, 0.4409185822824961}},
      {32,
       {493, 494, 161497529.8632202, -982756.7986947366, 1993.4352667771823, -1.347826414318582}},
      {53,
       {569, 570, -24380409.20647403, 128317.52880325519, -225.11764991404166,
        0.13164774848774402}},
      {54,
       {570, 571, -543324.4386871189, 2862.4105004327444, -5.023777961955427,
        0.0029378818490969996}},
      {86,
       {695, 700, 16087.19664814297, -68.75744555846484, 0.09816814340921302, -4.6720072967e-05}},
      {87,
       {700, 780, 272.6832252812561, -0.9809594604895141, 0.0013445918406760002,
        -6.136198390000001e-07}},
  };
  for (const PinnedRow& pinned : kPinned) {
    for (int column = 0; column < 6; ++column) {
      SCOPED_TRACE(testing::Message() << "row " << pinned.row << ", column " << column);
      EXPECT_EQ(Bits((table_->*kColumns[column])[pinned.row]), Bits(pinned.values[column]));
    }
  }
}

// Both rows that meet at a knot reproduce the knot's value.
TEST_F(SegmentTableTest, EveryRowMeetsItsKnots) {
  struct Knot {
    double nm;
    double value;
  };
  static constexpr Knot kKnots[SegmentTable::kRows + 1] = {
      {380, 0.61},  {385, 0.60},  {390, 0.60},  {395, 0.59},  {400, 0.58},  {405, 0.58},
      {410, 0.58},  {415, 0.58},  {420, 0.62},  {425, 0.70},  {430, 0.84},  {435, 1.04},
      {440, 1.32},  {445, 1.71},  {450, 2.14},  {455, 2.74},  {460, 3.59},  {463, 4.43},
      {465, 4.83},  {470, 7.05},  {475, 10.78}, {480, 17.08}, {482, 20.63}, {485, 27.44},
      {486, 30.24}, {487, 33.34}, {488, 36.77}, {489, 40.55}, {490, 44.69}, {491, 48.04},
      {492, 54.50}, {493, 60.21}, {494, 65.65}, {495, 65.94}, {497, 66.51}, {500, 67.32},
      {505, 68.56}, {510, 69.85}, {515, 71.24}, {520, 72.71}, {525, 74.27}, {530, 75.94},
      {535, 77.68}, {540, 79.56}, {545, 81.68}, {550, 84.12}, {555, 86.97}, {560, 90.42},
      {565, 94.60}, {566, 95.54}, {567, 96.53}, {568, 97.56}, {569, 98.64}, {570, 99.24},
      {571, 98.10}, {572, 96.94}, {573, 95.62}, {574, 94.10}, {575, 92.44}, {578, 87.18},
      {580, 83.55}, {583, 78.46}, {585, 75.17}, {588, 70.41}, {590, 67.44}, {595, 60.79},
      {599, 56.34}, {605, 50.78}, {610, 47.16}, {615, 44.58}, {620, 42.15}, {625, 40.45},
      {630, 39.11}, {635, 38.01}, {640, 37.12}, {645, 36.41}, {650, 35.82}, {655, 35.48},
      {660, 35.19}, {665, 35.00}, {670, 34.85}, {675, 34.72}, {680, 34.61}, {685, 34.51},
      {690, 34.44}, {695, 34.40}, {700, 34.39}, {780, 34.39},
  };
  for (int k = 1; k <= SegmentTable::kRows; ++k) {
    SCOPED_TRACE(k);
    const Knot& left = kKnots[k - 1];
    const Knot& right = kKnots[k];
    ASSERT_EQ(table_->lower[k], left.nm);
    ASSERT_EQ(table_->upper[k], right.nm);
    EXPECT_NEAR(Cubic(k, left.nm), left.value, 3e-7);
    EXPECT_NEAR(Cubic(k, right.nm), right.value, 3e-7);
  }
}

// On a bound shared by two rows the later row decides; the two cubics differ
// in their last bits there, so the exact value tells which row was used.
TEST_F(SegmentTableTest, SharedBoundTakesTheLaterRow) {
  struct Tie {
    double nm;
    int row;
  };
  static constexpr Tie kTies[] = {{385, 2}, {493, 32}, {570, 54}, {700, 87}};
  for (const Tie& tie : kTies) {
    SCOPED_TRACE(tie.nm);
    ASSERT_NE(Bits(Cubic(tie.row - 1, tie.nm)), Bits(Cubic(tie.row, tie.nm)));
    EXPECT_EQ(Bits(EvaluateBrightness(tie.nm)), Bits(Cubic(tie.row, tie.nm)));
  }
}

TEST_F(SegmentTableTest, WavelengthOutsideEveryRowGivesPositiveZero) {
  constexpr double kInf = std::numeric_limits<double>::infinity();
  static constexpr double kOutside[] = {379.999,
                                        780.0001,
                                        0.0,
                                        -0.0,
                                        -550.0,
                                        1000.0,
                                        kInf,
                                        -kInf,
                                        std::numeric_limits<double>::quiet_NaN(),
                                        -std::numeric_limits<double>::quiet_NaN(),
                                        std::numeric_limits<double>::max(),
                                        std::numeric_limits<double>::lowest()};
  for (double nm : kOutside) {
    SCOPED_TRACE(nm);
    EXPECT_EQ(Bits(EvaluateBrightness(nm)), Bits(0.0));
  }
}

// Each kernel of the library's array call, by its place in the list.
class EveryKernelTest : public SegmentTableTest, public testing::WithParamInterface<std::size_t> {};

// The program, the library's single and array calls, and each kernel of the
// array call, on arrays of every length from 0 to 33 that start an odd
// multiple of 8 bytes into a block, and on an array that is its own output,
// all give the scan's double, bit for bit.
TEST_P(EveryKernelTest, GivesTheScansBits) {
  const helligkeit::Kernel& kernel = helligkeit::Kernels()[GetParam()];
  if (!kernel.available()) {
    GTEST_SKIP() << "the processor has no " << kernel.name;
  }
  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::vector<double> wavelengths = {
      0.0, -0.0, kInf, -kInf, std::numeric_limits<double>::quiet_NaN(),
      -std::numeric_limits<double>::quiet_NaN(),
      std::bit_cast<double>(std::uint64_t{0x7FF0'0000'0000'0001}),
      std::bit_cast<double>(std::uint64_t{0x7FF8'0000'0000'0234}),
      std::bit_cast<double>(std::uint64_t{0xFFF4'0000'0000'0001}),
      std::numeric_limits<double>::denorm_min(), -std::numeric_limits<double>::denorm_min(),
      std::bit_cast<double>(std::uint64_t{0x000F'FFFF'FFFF'FFFF}),
      std::numeric_limits<double>::min(), std::numeric_limits<double>::max(),
      std::numeric_limits<double>::lowest(),
      // Beyond what a 32-bit whole number holds.
      2147483648.0 + 550.0, 4294967296.0 + 550.0, -2147483648.0 + 550.0, 1e300, -1e300};
  // Every bound and the doubles on either side of it.
  for (int k = 1; k <= SegmentTable::kRows; ++k) {
    for (double bound : {table_->lower[k], table_->upper[k]}) {
      wavelengths.insert(wavelengths.end(),
                         {std::nextafter(bound, -kInf), bound, std::nextafter(bound, kInf)});
    }
  }
  // A dense sweep beyond both ends, in steps that are no binary fraction;
  // long enough for the AVX2 kernel to write past the caches.
  for (int i = 0; i <= 420'000; ++i) {
    wavelengths.push_back(370.0 + i * 0.001);
  }
  std::vector<std::uint64_t> expected(wavelengths.size());
  for (std::size_t i = 0; i < wavelengths.size(); ++i) {
    expected[i] = Bits(Scan(wavelengths[i]));
  }

  std::size_t mismatches = 0;
  // Only the first few mismatches are shown.
  const auto check = [&](const char* call, std::size_t i, double found) {
    if (Bits(found) != expected[i] && ++mismatches <= 5) {
      ADD_FAILURE() << call << " at " << std::hexfloat << wavelengths[i] << ": 0x" << std::hex
                    << Bits(found) << " instead of 0x" << expected[i];
    }
  };
  std::vector<double> array(wavelengths.size());
  kernel.run(wavelengths.data(), array.data(), wavelengths.size());
  std::vector<double> in_place = wavelengths;
  kernel.run(in_place.data(), in_place.data(), in_place.size());
  std::vector<double> library(wavelengths.size());
  helligkeit_brightness_n(wavelengths.data(), library.data(), wavelengths.size());
  for (std::size_t i = 0; i < wavelengths.size(); ++i) {
    check("the program", i, EvaluateBrightness(wavelengths[i]));
    check("helligkeit_brightness", i, helligkeit_brightness(wavelengths[i]));
    check("helligkeit_brightness_n", i, library[i]);
    check("the kernel", i, array[i]);
    check("the kernel in place", i, in_place[i]);
  }

  // Every length up to 33, so every tail after the vectors, and one of
  // several blocks of the AVX2 kernel and a tail, on windows that hold the
  // special values and bounds, an odd multiple of 8 bytes into blocks
  // aligned to 32; the doubles beside each window stay as they are. (A quiet
  // NaN marks them: the x87 unit makes a signaling one quiet as it copies
  // it.)
  constexpr std::size_t kLongest = 555;
  std::vector<std::size_t> lengths(34);
  std::iota(lengths.begin(), lengths.end(), std::size_t{0});
  lengths.push_back(kLongest);
  const double kUntouched = std::bit_cast<double>(std::uint64_t{0x7FF8'DEAD'BEEF'0001});
  for (std::size_t length : lengths) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    const std::size_t from = length * 3 % 100;
    alignas(32) double input[kLongest + 2];
    alignas(32) double output[kLongest + 2];
    std::fill(std::begin(output), std::end(output), kUntouched);
    std::copy_n(wavelengths.begin() + static_cast<std::ptrdiff_t>(from), length, input + 1);
    kernel.run(input + 1, output + 1, length);
    alignas(32) double own[kLongest + 2];
    std::fill(std::begin(own), std::end(own), kUntouched);
    std::copy_n(input + 1, length, own + 1);
    kernel.run(own + 1, own + 1, length);
    for (std::size_t i = 0; i < length; ++i) {
      check("the kernel", from + i, output[1 + i]);
      check("the kernel in place", from + i, own[1 + i]);
    }
    for (const double* block : {output, own}) {
      EXPECT_EQ(Bits(block[0]), Bits(kUntouched));
      EXPECT_EQ(Bits(block[length + 1]), Bits(kUntouched));
    }
  }
  EXPECT_EQ(mismatches, 0u);
}

INSTANTIATE_TEST_SUITE_P(Kernels, EveryKernelTest,
                         testing::Range<std::size_t>(0, helligkeit::Kernels().size()),
                         [](const testing::TestParamInfo<std::size_t>& info) {
                           return std::string(helligkeit::Kernels()[info.param].name);
                         });

// The array call runs the first kernel that the processor has, and says
// which; HELLIGKEIT_EXPECT_KERNEL names the one that a run expects (CI's run
// on a processor without AVX2).
TEST(KernelChoiceTest, TakesTheFirstKernelTheProcessorHas) {
  const helligkeit::Kernel& chosen = helligkeit::ChosenKernel();
  std::cout << "The array call runs the kernel " << chosen.name << ".\n";
  for (const helligkeit::Kernel& kernel : helligkeit::Kernels()) {
    if (kernel.available()) {
      EXPECT_EQ(&kernel, &chosen);
      break;
    }
  }
  if (const char* expected = std::getenv("HELLIGKEIT_EXPECT_KERNEL")) {
    EXPECT_STREQ(chosen.name, expected);
  }
}

// The brightnesses as the report line prints them.
TEST_F(SegmentTableTest, ReferenceBrightnessesWithThreeDecimals) {
  struct Reference {
    double nm;
    std::u16string_view printed;
  };
  // The last two lie within 1e-7 of a rounding boundary: right only where
  // every operation rounds to a double.
  static constexpr Reference kReferences[] = {
      {380, u"0.610"},        {385, u"0.600"},  {493, u"60.210"}, {550, u"84.120"},
      {555.5, u"87.285"},     {570, u"99.240"}, {600, u"55.328"}, {650, u"35.820"},
      {700, u"34.390"},       {750, u"34.426"}, {780, u"34.390"}, {490.1343, u"45.116"},
      {490.96915, u"47.893"},
  };
  for (const Reference& reference : kReferences) {
    SCOPED_TRACE(reference.nm);
    std::pmr::u16string text;
    FormatDouble(EvaluateBrightness(reference.nm), 3, text);
    EXPECT_EQ(std::u16string(text.data(), text.size()), reference.printed);
  }
}

}  // namespace
