"""The brightness of a full colour at a spectral wavelength, from the
helligkeit library: the numbers the helligkeit program reports, read off a
stored curve of 87 cubic segments spanning 380-780 nm.

    >>> import helligkeit
    >>> helligkeit.brightness(550.0)
    84.11999999998807
    >>> helligkeit.brightness([380, 555.5, 800])
    array([ 0.61000003, 87.28521485,  0.        ])

The module calls the shared library through ctypes: libhelligkeit.so.1,
found as the system finds libraries, or helligkeit.dll, beside the module
or where Windows looks. The environment variable HELLIGKEIT_LIBRARY names
another file to load instead.
"""

import ctypes
import numbers
import os
import pathlib

import numpy

__all__ = ["brightness", "library_version"]


def _load():
    path = os.environ.get("HELLIGKEIT_LIBRARY")
    if path:
        return ctypes.CDLL(path)
    if os.name == "nt":
        beside = pathlib.Path(__file__).resolve().parent / "helligkeit.dll"
        return ctypes.CDLL(str(beside) if beside.exists() else "helligkeit.dll")
    return ctypes.CDLL("libhelligkeit.so.1")


_library = _load()
_library.helligkeit_brightness.argtypes = [ctypes.c_double]
_library.helligkeit_brightness.restype = ctypes.c_double
_library.helligkeit_brightness_n.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_size_t]
_library.helligkeit_brightness_n.restype = None
_library.helligkeit_version.argtypes = []
_library.helligkeit_version.restype = ctypes.c_char_p


def brightness(wavelength_nm):
    """The brightness at `wavelength_nm` nanometres.

    A number gives a float. A sequence or numpy array of wavelengths gives a
    numpy array of float64 of the same shape, computed in one call of the
    library; an array that is contiguous float64 already is read where it
    lies, without a copy. Outside 380-780 nm, and for NaN and the
    infinities, the brightness is 0.0.
    """
    if isinstance(wavelength_nm, numbers.Real):
        return _library.helligkeit_brightness(float(wavelength_nm))
    wavelengths = numpy.ascontiguousarray(wavelength_nm, dtype=numpy.float64)
    result = numpy.empty_like(wavelengths)
    _library.helligkeit_brightness_n(wavelengths.ctypes.data, result.ctypes.data,
                                     wavelengths.size)
    return result


def library_version():
    """The version of the loaded library, "MAJOR.MINOR.PATCH"."""
    return _library.helligkeit_version().decode("ascii")
