// The figures of the library's array call that only C++ can take, for
// bench/library_bench.py, which builds this against the static library:
// which kernel the array call runs; each kernel's nanoseconds per
// wavelength on 10,000 wavelengths, which stay in the cache, beside memcpy
// of the same array into the same output; and the single call's
// nanoseconds in a loop of 10,000,000.
//
// Usage: kernel_bench [ROUNDS]   (default 21)
// Each round times every kernel and memcpy once, in turn; the figures are
// the medians over the rounds, each ratio the median of the rounds' ratios.
#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "curve/kernels.h"
#include "helligkeit.h"

namespace {

constexpr std::size_t kCount = 10'000;
constexpr int kRepeats = 1'000;
constexpr long kSingleCalls = 10'000'000;

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Nanoseconds per wavelength of `kRepeats` passes of `pass` over the array.
template <typename Pass>
double NsPerWavelength(Pass pass) {
  const Clock::time_point start = Clock::now();
  for (int repeat = 0; repeat < kRepeats; ++repeat) {
    pass();
  }
  const std::chrono::duration<double, std::nano> took = Clock::now() - start;
  return took.count() / (double{kRepeats} * kCount);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 21;
  if (rounds < 1) {
    std::fprintf(stderr, "kernel_bench: ROUNDS must be at least 1\n");
    return 2;
  }
  std::mt19937_64 generator(29);
  std::uniform_real_distribution<double> nm(370.0, 790.0);
  std::vector<double> wavelengths(kCount);
  for (double& wavelength : wavelengths) {
    wavelength = nm(generator);
  }
  std::vector<double> brightness(kCount);

  std::printf("kernel: the array call runs %s\n", helligkeit::ChosenKernel().name);

  // Column 0 is memcpy, then each kernel the processor has.
  std::vector<const helligkeit::Kernel*> kernels;
  for (const helligkeit::Kernel& kernel : helligkeit::Kernels()) {
    if (kernel.available()) {
      kernels.push_back(&kernel);
    } else {
      std::printf("kernel %s: not timed, the processor lacks it\n", kernel.name);
    }
  }
  std::vector<std::vector<double>> ns(kernels.size() + 1);
  for (int round = 0; round < rounds; ++round) {
    ns[0].push_back(NsPerWavelength([&] {
      std::memcpy(brightness.data(), wavelengths.data(), kCount * sizeof(double));
      // Kept: the copy is not left out because its output is unread.
      __asm__ volatile("" : : "r"(brightness.data()) : "memory");
    }));
    for (std::size_t k = 0; k < kernels.size(); ++k) {
      ns[k + 1].push_back(
          NsPerWavelength([&] { kernels[k]->run(wavelengths.data(), brightness.data(), kCount); }));
    }
  }
  std::printf("in cache: %zu wavelengths, %d passes a round, %d rounds\n", kCount, kRepeats,
              rounds);
  std::printf("%-10s %14s %8s %8s %16s %16s\n", "kernel", "ns/wavelength", "min", "max",
              "ratio to memcpy", "ratio to scalar");
  // The median of the rounds' ratios of column `k` to column `to`.
  const auto ratio = [&](std::size_t k, std::size_t to) {
    std::vector<double> ratios;
    for (std::size_t round = 0; round < ns[k].size(); ++round) {
      ratios.push_back(ns[k][round] / ns[to][round]);
    }
    return Median(ratios);
  };
  // The scalar kernel, last of the list, runs everywhere.
  const std::size_t scalar = kernels.size();
  for (std::size_t k = 0; k <= kernels.size(); ++k) {
    std::printf("%-10s %14.3f %8.3f %8.3f %16.2f %16.2f\n",
                k == 0 ? "memcpy" : kernels[k - 1]->name, Median(ns[k]),
                *std::min_element(ns[k].begin(), ns[k].end()),
                *std::max_element(ns[k].begin(), ns[k].end()), ratio(k, 0), ratio(k, scalar));
  }

  // The single call, one wavelength after another of the array; the sum
  // keeps every call.
  std::vector<double> per_call;
  double sum = 0.0;
  for (int round = 0; round < rounds; ++round) {
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < kSingleCalls; ++i) {
      sum += helligkeit_brightness(wavelengths[static_cast<std::size_t>(i) % kCount]);
    }
    const std::chrono::duration<double, std::nano> took = Clock::now() - start;
    per_call.push_back(took.count() / double{kSingleCalls});
  }
  std::printf("single call: %.2f ns per call in a loop of %ld (min %.2f, max %.2f; sum %g)\n",
              Median(per_call), kSingleCalls, *std::min_element(per_call.begin(), per_call.end()),
              *std::max_element(per_call.begin(), per_call.end()), sum);
  return 0;
}
