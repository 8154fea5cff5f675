// The figures of the library's array call that only C++ can take, for
// bench/library_bench.py, which builds this against the static library:
// which kernel the array call runs; each kernel's nanoseconds per
// wavelength beside memcpy of the same array into the same output, on
// 10,000 wavelengths, which stay in the cache, and on COUNT, which come
// from memory; and the single call's nanoseconds in a loop of 10,000,000.
//
// Usage: kernel_bench [ROUNDS [COUNT]]   (defaults 21 and 10,000,000)
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

constexpr std::size_t kInCache = 10'000;
constexpr long kSingleCalls = 10'000'000;

using Clock = std::chrono::steady_clock;

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// `count` wavelengths uniform over 370-790 nm, the same on every run.
std::vector<double> Wavelengths(std::size_t count) {
  std::mt19937_64 generator(29);
  std::uniform_real_distribution<double> nm(370.0, 790.0);
  std::vector<double> wavelengths(count);
  for (double& wavelength : wavelengths) {
    wavelength = nm(generator);
  }
  return wavelengths;
}

// Nanoseconds per wavelength of enough passes of `pass` over `count`
// wavelengths to take about 10^7 of them.
template <typename Pass>
double NsPerWavelength(std::size_t count, Pass pass) {
  const std::size_t passes = std::max<std::size_t>(1, 10'000'000 / count);
  const Clock::time_point start = Clock::now();
  for (std::size_t repeat = 0; repeat < passes; ++repeat) {
    pass();
  }
  const std::chrono::duration<double, std::nano> took = Clock::now() - start;
  return took.count() / (double(passes) * double(count));
}

// Times memcpy and each of `kernels` on `count` wavelengths, `rounds`
// times in turn, and prints the table.
void TimeKernels(const std::vector<const helligkeit::Kernel*>& kernels, std::size_t count,
                 int rounds, const char* where) {
  const std::vector<double> wavelengths = Wavelengths(count);
  std::vector<double> brightness(count);
  // Column 0 is memcpy, then each kernel.
  std::vector<std::vector<double>> ns(kernels.size() + 1);
  for (int round = 0; round < rounds; ++round) {
    ns[0].push_back(NsPerWavelength(count, [&] {
      std::memcpy(brightness.data(), wavelengths.data(), count * sizeof(double));
      // Kept: the copy is not left out because its output is unread.
      __asm__ volatile("" : : "r"(brightness.data()) : "memory");
    }));
    for (std::size_t k = 0; k < kernels.size(); ++k) {
      ns[k + 1].push_back(NsPerWavelength(
          count, [&] { kernels[k]->run(wavelengths.data(), brightness.data(), count); }));
    }
  }
  std::printf("%s: %zu wavelengths, %d rounds\n", where, count, rounds);
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
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 21;
  const long from_memory = argc > 2 ? std::atol(argv[2]) : 10'000'000;
  if (rounds < 1 || from_memory < 1) {
    std::fprintf(stderr, "kernel_bench: ROUNDS and COUNT must be at least 1\n");
    return 2;
  }
  std::printf("kernel: the array call runs %s\n", helligkeit::ChosenKernel().name);
  std::vector<const helligkeit::Kernel*> kernels;
  for (const helligkeit::Kernel& kernel : helligkeit::Kernels()) {
    if (kernel.available()) {
      kernels.push_back(&kernel);
    } else {
      std::printf("kernel %s: not timed, the processor lacks it\n", kernel.name);
    }
  }
  TimeKernels(kernels, kInCache, rounds, "in cache");
  TimeKernels(kernels, static_cast<std::size_t>(from_memory), rounds, "from memory");

  const std::vector<double> wavelengths = Wavelengths(kInCache);
  // The single call, one wavelength after another of the array; the sum
  // keeps every call.
  std::vector<double> per_call;
  double sum = 0.0;
  for (int round = 0; round < rounds; ++round) {
    const Clock::time_point start = Clock::now();
    for (long i = 0; i < kSingleCalls; ++i) {
      sum += helligkeit_brightness(wavelengths[static_cast<std::size_t>(i) % kInCache]);
    }
    const std::chrono::duration<double, std::nano> took = Clock::now() - start;
    per_call.push_back(took.count() / double{kSingleCalls});
  }
  std::printf("single call: %.2f ns per call in a loop of %ld (min %.2f, max %.2f; sum %g)\n",
              Median(per_call), kSingleCalls, *std::min_element(per_call.begin(), per_call.end()),
              *std::max_element(per_call.begin(), per_call.end()), sum);
  return 0;
}
