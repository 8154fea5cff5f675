#include "calculator/segment_table.h"

#include <iterator>
#include <memory_resource>
#include <new>

namespace {

// The stored rows, row after row: lower, upper, c0, c1, c2, c3. Generated
// from the knot table by tools/generate_segments.py.
constexpr double kSegmentData[] = {
#include "calculator/segment_data.inc"
};
static_assert(std::size(kSegmentData) == SegmentTable::kRows * 6);

// The working table. Allocated once from the default memory resource and
// never freed on its own: it lives until that resource is released.
SegmentTable* table = nullptr;

// Where the table goes when no memory can be had for it, so that the
// brightness comes out the same. Zero-filled, it costs nothing at start-up.
constinit SegmentTable spare_table{};

}  // namespace

void LoadSegmentTable() {
  // new_object value-initialises the table, so every entry, index 0 included,
  // starts at 0.0.
  try {
    table = std::pmr::polymorphic_allocator<>{}.new_object<SegmentTable>();
  } catch (const std::bad_alloc&) {
    spare_table = SegmentTable{};
    table = &spare_table;
  }
  const double* cursor = kSegmentData;
  for (int k = 1; k <= SegmentTable::kRows; ++k) {
    table->lower[k] = *cursor++;
    table->upper[k] = *cursor++;
    table->c0[k] = *cursor++;
    table->c1[k] = *cursor++;
    table->c2[k] = *cursor++;
    table->c3[k] = *cursor++;
  }
}

double EvaluateBrightness(double wavelength) {
  const double x = wavelength;
  double result = 0.0;
  // Every row is tested and every match overwrites the result, so on a
  // bound shared by two rows the later row wins. The lower test is written
  // as "not greater" so that NaN passes it; NaN then fails the upper test.
  for (int k = 1; k <= SegmentTable::kRows; ++k) {
    if (!(table->lower[k] > x) && table->upper[k] >= x) {
      result = ((table->c0[k] + table->c1[k] * x) + (table->c2[k] * x) * x) +
               ((table->c3[k] * x) * x) * x;
    }
  }
  return result;
}
