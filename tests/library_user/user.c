/* A program that uses the library as its C users do, for the checks of the
 * installed library (tests/check_library.py). Each argument is a wavelength
 * given as the 16 hexadecimal digits of its double's bits; for each it
 * prints the bits of helligkeit_brightness() and of helligkeit_brightness_n()
 * computed in place over all of them, after a first line with the library's
 * version and the header's, as text and as numbers. Bits, not decimals, so
 * that every double and every result is exact whatever the C library's
 * number formatting.
 *
 * Built with USER_ENTRY defined, the program's body is that function
 * instead of main(), the one export of a shared object that a small
 * program (plugged.c) calls. */
#include <helligkeit.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static double FromBits(uint64_t bits) {
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

static uint64_t Bits(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return bits;
}

#ifdef USER_ENTRY
__attribute__((visibility("default"))) int USER_ENTRY(int argc, char** argv);
int USER_ENTRY(int argc, char** argv) {
#else
int main(int argc, char** argv) {
#endif
  size_t count = argc > 1 ? (size_t)(argc - 1) : 0;
  double* in_place = malloc((count + 1) * sizeof *in_place);
  if (in_place == NULL) {
    return 1;
  }
  printf("%s %s %u %d\n", helligkeit_version(), HELLIGKEIT_VERSION, helligkeit_version_number(),
         HELLIGKEIT_VERSION_NUMBER);
  for (size_t i = 0; i < count; ++i) {
    in_place[i] = FromBits((uint64_t)strtoull(argv[i + 1], NULL, 16));
  }
  helligkeit_brightness_n(in_place, in_place, count);
  for (size_t i = 0; i < count; ++i) {
    double single = helligkeit_brightness(FromBits((uint64_t)strtoull(argv[i + 1], NULL, 16)));
    printf("%016" PRIx64 " %016" PRIx64 "\n", Bits(single), Bits(in_place[i]));
  }
  free(in_place);
  return 0;
}
