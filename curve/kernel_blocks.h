// What the AVX2 and AVX-512 kernels share. Both take the wavelengths in
// blocks, each in two passes: the first finds every wavelength's cubic in
// kCubicAt, the second loads the cubics and evaluates them. Apart, each pass
// is a short chain of work that the processor overlaps from one step to the
// next, where one pass through both would wait on its loads. Included only
// by kernel files compiled for amd64.
#pragma once

#include <immintrin.h>

#include <cstddef>
#include <cstdint>

#include "curve/curve.h"
#include "curve/kernels.h"

namespace helligkeit {

// From this many wavelengths on (2 MiB of output, more than a core's own
// caches hold), the brightness is written past the caches.
inline constexpr std::size_t kStreamFrom = std::size_t{1} << 18;

// Wavelengths a block: a multiple of 8, whose first pass's results, 1.5 KiB,
// stay in the first-level cache for the second.
inline constexpr std::size_t kBlock = 128;

// The first pass's results for one block.
struct Located {
  // Each wavelength held within the bounds.
  alignas(64) double x[kBlock];
  // Each wavelength's cubic, as the byte offset 32 n of kCubicAt[n - kFirstNm],
  // where a wavelength that no row holds takes n = kLastNm + 1, the all-zero
  // cubic.
  std::uint32_t offset[kBlock];
};

// The cubic kCubicAt[n - kFirstNm] for `offset` = 32 n, as Located holds it;
// the first bound is taken off before the pointer moves, so that it stays
// within the table.
inline const double* CubicAt(std::uint32_t offset) {
  return reinterpret_cast<const double*>(reinterpret_cast<const char*>(kCubicAt.data()) +
                                         (offset - kFirstNm * sizeof(Cubic)));
}

// The address two blocks on from `wavelength`, which the second pass fetches
// a cache line of at each step, so that an array that comes from memory
// arrives while the blocks before it are evaluated. A prefetch never
// faults, so the address may lie past the array.
inline const char* Ahead(const double* wavelength) {
  return reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(wavelength) +
                                       2 * kBlock * sizeof(double));
}

// A kernel's two passes over `count` wavelengths, a multiple of 8, written
// with ordinary stores (`cached`) or past the caches with streaming stores
// that take `align`-byte aligned output (`streamed`); the rest of the array
// one by one.
inline void InBlocks(const double* wavelengths, double* brightness, std::size_t count,
                     std::size_t align, ArrayKernel cached, ArrayKernel streamed) {
  std::size_t i = 0;
  if (count < kStreamFrom) {
    i = count - count % 8;
    cached(wavelengths, brightness, i);
  } else {
    // An output larger than the caches is written past them, as memcpy
    // writes one, so that its lines are not first read in to be written.
    for (; reinterpret_cast<std::uintptr_t>(brightness + i) % align != 0; ++i) {
      brightness[i] = Brightness(kSegmentTable, wavelengths[i]);
    }
    const std::size_t vectors = (count - i) - (count - i) % 8;
    streamed(wavelengths + i, brightness + i, vectors);
    i += vectors;
    // The streamed stores are seen before whatever the caller stores next.
    _mm_sfence();
  }
  BrightnessOfEach(kSegmentTable, wavelengths + i, brightness + i, count - i);
}

}  // namespace helligkeit
