// The library's C interface (helligkeit.h) over the curve.
#include "helligkeit.h"

#include <cstddef>

#include "curve/curve.h"

namespace {

#if defined(__i386__) && !defined(__SSE2_MATH__)
// On the x87 unit each operation rounds to the precision set in the calling
// thread's control word: a double's 53 bits where the program was linked
// with -mpc64, else 64, which would change the last bits of the cubic. For
// the life of this object the precision is 53 bits; the caller's word comes
// back after. The curve's work is done in calls to another file, so none of
// it moves past either setting.
class DoublePrecision {
 public:
  DoublePrecision() {
    __asm__ volatile("fnstcw %0" : "=m"(caller_word_) : : "memory");
    const unsigned short word = static_cast<unsigned short>((caller_word_ & ~0x300u) | 0x200u);
    __asm__ volatile("fldcw %0" : : "m"(word) : "memory");
  }
  ~DoublePrecision() { __asm__ volatile("fldcw %0" : : "m"(caller_word_) : "memory"); }
  DoublePrecision(const DoublePrecision&) = delete;
  DoublePrecision& operator=(const DoublePrecision&) = delete;

 private:
  unsigned short caller_word_;
};
#else
// Every other machine computes doubles as doubles.
struct DoublePrecision {};
#endif

}  // namespace

extern "C" double helligkeit_brightness(double wavelength_nm) {
  [[maybe_unused]] const DoublePrecision precision;
  return Brightness(kSegmentTable, wavelength_nm);
}

extern "C" void helligkeit_brightness_n(const double* wavelengths_nm, double* brightness,
                                        size_t count) {
  [[maybe_unused]] const DoublePrecision precision;
  BrightnessOfEach(kSegmentTable, wavelengths_nm, brightness, count);
}

extern "C" const char* helligkeit_version(void) {
  return HELLIGKEIT_VERSION;
}

extern "C" unsigned helligkeit_version_number(void) {
  return HELLIGKEIT_VERSION_NUMBER;
}
