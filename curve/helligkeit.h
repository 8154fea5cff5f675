/* helligkeit: the brightness of a full colour at a spectral wavelength,
 * read off a stored curve of 87 cubic segments that span 380-780 nm, the
 * same numbers the helligkeit program reports. See helligkeit(3).
 *
 * For C and C++. The functions keep no state and allocate nothing, and any
 * number of threads may call them at once.
 *
 * Each result is the same double on every machine: every operation is a
 * double operation, in a fixed order, without fused multiply-adds. On
 * 32-bit x86 where doubles are computed on the x87 unit (no SSE2), the
 * unit's precision is a setting of the calling thread, 64 bits by default,
 * which a program can set to a double's 53 (-mpc64 when linking) but a
 * shared library cannot set for the program. So each call sets 53 bits for
 * its own work and gives the caller's setting back before it returns.
 *
 * This file is the same on every system, and the one place the project's
 * version is written: the build reads it from the three numbers below.
 */
#ifndef HELLIGKEIT_H
#define HELLIGKEIT_H

#include <stddef.h>

/* The version of this header; helligkeit_version() and
 * helligkeit_version_number() give the library's. A program compares
 * versions as numbers: #if HELLIGKEIT_VERSION_NUMBER >= 10300. */
#define HELLIGKEIT_VERSION_MAJOR 1
#define HELLIGKEIT_VERSION_MINOR 3
#define HELLIGKEIT_VERSION_PATCH 1
#define HELLIGKEIT_VERSION_NUMBER \
  (HELLIGKEIT_VERSION_MAJOR * 10000 + HELLIGKEIT_VERSION_MINOR * 100 + HELLIGKEIT_VERSION_PATCH)
#define HELLIGKEIT_QUOTE_(major, minor, patch) #major "." #minor "." #patch
#define HELLIGKEIT_EXPAND_AND_QUOTE_(major, minor, patch) HELLIGKEIT_QUOTE_(major, minor, patch)
/* "MAJOR.MINOR.PATCH". */
#define HELLIGKEIT_VERSION                                                         \
  HELLIGKEIT_EXPAND_AND_QUOTE_(HELLIGKEIT_VERSION_MAJOR, HELLIGKEIT_VERSION_MINOR, \
                               HELLIGKEIT_VERSION_PATCH)

/* Marks each function of the library. A program may define it before it
 * includes this file; else it is
 * - on Windows, __declspec(dllimport) for a program that uses the DLL,
 *   __declspec(dllexport) while the DLL itself is built
 *   (HELLIGKEIT_BUILDING_DLL), and nothing with HELLIGKEIT_STATIC defined,
 *   for a program that links the static library;
 * - elsewhere, nothing with HELLIGKEIT_STATIC defined, so that the static
 *   library's functions keep the visibility of the object they are linked
 *   into (a shared object built with -fvisibility=hidden exports none of
 *   them), and default visibility for the shared library and its users.
 * CMake's target helligkeit::helligkeit_static and pkg-config --static
 * define HELLIGKEIT_STATIC. */
#ifndef HELLIGKEIT_API
#if defined(_WIN32) || defined(__CYGWIN__)
#if defined(HELLIGKEIT_STATIC)
#define HELLIGKEIT_API
#elif defined(HELLIGKEIT_BUILDING_DLL)
#define HELLIGKEIT_API __declspec(dllexport)
#else
#define HELLIGKEIT_API __declspec(dllimport)
#endif
#elif defined(HELLIGKEIT_STATIC)
#define HELLIGKEIT_API
#elif defined(__GNUC__) && __GNUC__ >= 4
#define HELLIGKEIT_API __attribute__((visibility("default")))
#else
#define HELLIGKEIT_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The brightness at `wavelength_nm` nanometres: the cubic of the segment
 * whose bounds hold the wavelength, the later of two segments on a bound
 * they share. Outside 380-780 nm, and for NaN and the infinities, +0.0.
 * Since 1.2.0. */
HELLIGKEIT_API double helligkeit_brightness(double wavelength_nm);

/* helligkeit_brightness() of `count` wavelengths, written to `brightness`.
 * The two arrays may be the same array, but may not overlap otherwise.
 * Since 1.2.0. */
HELLIGKEIT_API void helligkeit_brightness_n(const double* wavelengths_nm, double* brightness,
                                            size_t count);

/* The library's version, "MAJOR.MINOR.PATCH", as static text.
 * Since 1.2.0. */
HELLIGKEIT_API const char* helligkeit_version(void);

/* The library's version as a number, MAJOR * 10000 + MINOR * 100 + PATCH,
 * as HELLIGKEIT_VERSION_NUMBER gives the header's.
 * Since 1.3.0. */
HELLIGKEIT_API unsigned helligkeit_version_number(void);

#ifdef __cplusplus
}
#endif

#endif /* HELLIGKEIT_H */
