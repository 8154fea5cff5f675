// The brightness curve: 87 cubic segments over 380-780 nm.
#pragma once

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

// Creates the working table, zero-filled, from the default memory resource
// (the run's pool) and fills rows 1..87 from the stored constant block.
// Without memory for it, a table set aside in static storage is used.
void LoadSegmentTable();

// The brightness at `wavelength` nm, or 0.0 when no segment holds it. Needs
// a loaded table.
double EvaluateBrightness(double wavelength);
