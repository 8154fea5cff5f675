// Which kernel the array evaluation runs: the first of this machine's list
// that the processor has, found on the first call and kept.
#include <atomic>

#include "curve/curve.h"
#include "curve/kernels.h"

namespace helligkeit {

namespace {

bool Always() {
  return true;
}

void Scalar(const double* wavelengths, double* brightness, std::size_t count) {
  BrightnessOfEach(kSegmentTable, wavelengths, brightness, count);
}

#if defined(__x86_64__)
// Each also false where the operating system does not keep the registers.
// The processor's features are read here if no constructor has read them
// yet (a call from another library's constructor).
bool HasAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f");
}
bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
constexpr Kernel kKernels[] = {
    {"avx512", HasAvx512, BrightnessAvx512},
    {"avx2", HasAvx2, BrightnessAvx2},
    {"sse2", Always, BrightnessSse2},
    {"scalar", Always, Scalar},
};
#elif defined(__aarch64__) && defined(__ARM_NEON)
constexpr Kernel kKernels[] = {
    {"neon", Always, BrightnessNeon},
    {"scalar", Always, Scalar},
};
#else
constexpr Kernel kKernels[] = {
    {"scalar", Always, Scalar},
};
#endif

// Threads that call first at the same time each find the same kernel.
constinit std::atomic<const Kernel*> chosen{nullptr};

}  // namespace

std::span<const Kernel> Kernels() {
  return kKernels;
}

const Kernel& ChosenKernel() {
  const Kernel* kernel = chosen.load(std::memory_order_relaxed);
  if (kernel == nullptr) {
    kernel = kKernels;
    while (!kernel->available()) {
      ++kernel;
    }
    chosen.store(kernel, std::memory_order_relaxed);
  }
  return *kernel;
}

}  // namespace helligkeit
