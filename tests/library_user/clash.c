/* Globals of a program named like the library's internals, linked beside
 * user.c and the static library: the link must succeed (no multiple
 * definition) and the library must still use its own, so user.c's numbers
 * must come out right. */
#include <stddef.h>

const double kSegmentTable[6] = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
const double kStoredRows[6] = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0};
const unsigned char kRowAt[1] = {1};
const int kRows = 1;
const int kFirstNm = 0;
const int kLastNm = 1;
double SegmentTable[6];
int DoublePrecision;

double Brightness(double wavelength) {
  return -wavelength;
}

void BrightnessOfEach(const double* wavelengths, double* brightness, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    brightness[i] = -wavelengths[i];
  }
}

void FillSegmentTable(double* table) {
  table[0] = -1.0;
}

void Fill(double* table) {
  table[0] = -1.0;
}

double Filled(void) {
  return -1.0;
}

double Lower(int k) {
  return -k;
}

double Upper(int k) {
  return -k;
}
