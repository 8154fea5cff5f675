#include "calculator/segment_table.h"

#include <memory_resource>
#include <new>

namespace {

// The working table. Allocated once from the default memory resource and
// never freed on its own: it lives until that resource is released.
helligkeit::SegmentTable* table = nullptr;

// Where the table goes when no memory can be had for it, so that the
// brightness comes out the same. Zero-filled, it costs nothing at start-up.
constinit helligkeit::SegmentTable spare_table{};

}  // namespace

void LoadSegmentTable() {
  // new_object value-initialises the table, so every entry, index 0 included,
  // starts at 0.0.
  try {
    table = std::pmr::polymorphic_allocator<>{}.new_object<helligkeit::SegmentTable>();
  } catch (const std::bad_alloc&) {
    spare_table = helligkeit::SegmentTable{};
    table = &spare_table;
  }
  helligkeit::FillSegmentTable(*table);
}

double EvaluateBrightness(double wavelength) {
  return helligkeit::Brightness(*table, wavelength);
}
