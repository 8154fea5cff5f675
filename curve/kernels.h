// The array evaluation in several kernels, one per instruction set, each
// giving Brightness()'s double for every element; the library runs the best
// one the processor has, chosen once at run time.
#pragma once

#include <cstddef>
#include <span>

namespace helligkeit {

// Brightness() of each of `count` wavelengths on the stored rows;
// `brightness` may be `wavelengths` itself.
using ArrayKernel = void (*)(const double* wavelengths, double* brightness, std::size_t count);

struct Kernel {
  const char* name;
  // Whether the processor that runs the program has what the kernel needs.
  bool (*available)();
  ArrayKernel run;
};

// The kernels built for this machine, best first; the last, "scalar", runs
// everywhere.
std::span<const Kernel> Kernels();

// The first kernel of Kernels() that the processor can run, chosen on the
// first call.
const Kernel& ChosenKernel();

// The vector kernels, each in a file of its own and defined only for the
// machines that have its instruction set.
void BrightnessSse2(const double* wavelengths, double* brightness, std::size_t count);
void BrightnessAvx2(const double* wavelengths, double* brightness, std::size_t count);
void BrightnessAvx512(const double* wavelengths, double* brightness, std::size_t count);
void BrightnessNeon(const double* wavelengths, double* brightness, std::size_t count);

}  // namespace helligkeit
