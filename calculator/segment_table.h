// The program's working copy of the brightness curve (curve/curve.h).
#pragma once

#include "curve/curve.h"

// Creates the working table, zero-filled, from the default memory resource
// (the run's pool) and fills rows 1..87 from the stored constant block.
// Without memory for it, a table set aside in static storage is used.
void LoadSegmentTable();

// The brightness at `wavelength` nm, or 0.0 when no segment holds it, read
// off the loaded table by the library's own evaluation. Needs a loaded
// table.
double EvaluateBrightness(double wavelength);
