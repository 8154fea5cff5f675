"""The Python module used as its users do, for the checks of the installed
library (tests/check_library.py): the same arguments and output as user.c,
from brightness() of each float and of the whole list, once as a list and
once as a numpy array.

Before that, brightness() as a numpy ufunc on a table of inputs: numbers,
arrays of every kind of layout and element type, out= and where=, masked
and dask arrays, and what it must refuse. Every result is compared, bit for
bit, with the C library's helligkeit_brightness() of each element cast to a
double, called through ctypes: libhelligkeit.so.1 as the system finds it, or
the file HELLIGKEIT_LIBRARY names."""

import ctypes
import os
import pickle
import struct
import sys

import numpy

import helligkeit

# Every floating-point flag that a call leaves raised is an error.
numpy.seterr(all="raise")
library = ctypes.CDLL(os.environ.get("HELLIGKEIT_LIBRARY", "libhelligkeit.so.1"))
library.helligkeit_brightness.argtypes = [ctypes.c_double]
library.helligkeit_brightness.restype = ctypes.c_double


def bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def reference(wavelengths):
    """helligkeit_brightness() of each element, as a float64 array of the same shape."""
    doubles = numpy.asarray(wavelengths, dtype=numpy.float64)
    return numpy.array([library.helligkeit_brightness(float(x)) for x in doubles.flat],
                       dtype=numpy.float64).reshape(doubles.shape)


def unaligned(values):
    """A float64 array of the values at an odd address."""
    raw = b"\0" + numpy.asarray(values, dtype=numpy.float64).tobytes()
    array = numpy.frombuffer(bytearray(raw), dtype=numpy.float64, offset=1)
    assert not array.flags.aligned
    return array


def in_place(array):
    """brightness() written over its wavelengths."""
    result = helligkeit.brightness(array, out=array)
    assert result is array
    return result


def on_local_cluster(wavelengths):
    """brightness() of a dask array of four chunks, one task for each,
    computed by distributed's scheduler with one worker in this process.
    Workers elsewhere get the ufunc pickled, by its module and name."""
    import dask.array
    import distributed

    assert pickle.loads(pickle.dumps(helligkeit.brightness)) is helligkeit.brightness

    chunked = dask.array.from_array(wavelengths, chunks=len(wavelengths) // 4)
    result = helligkeit.brightness(chunked)
    assert isinstance(result, dask.array.Array) and result.numblocks == (4,)
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                  dashboard_address=None) as cluster:
        with distributed.Client(cluster) as client:
            return client.compute(result).result()


GRID = numpy.arange(370, 791, 5, dtype=numpy.int32).reshape(17, 5)
SPREAD = numpy.linspace(370.0, 790.0, 2001)
FULL = numpy.full(8, -1.0)
MASK = numpy.array([True, False] * 4)
MASKED = numpy.ma.masked_outside([[550, 300], [600.5, 1e9]], 380, 780)

# Each row: what it tries, the type of the result (or the error it must
# raise), the expected values (their shape too) and the call.
ROWS = [
    ("a float", numpy.float64, reference(550.0), lambda: helligkeit.brightness(550.0)),
    ("an int", numpy.float64, reference(600), lambda: helligkeit.brightness(600)),
    ("a 0-d array", numpy.float64, reference(555.5),
     lambda: helligkeit.brightness(numpy.array(555.5))),
    ("a float32 scalar", numpy.float64, reference(numpy.float32(490.1343)),
     lambda: helligkeit.brightness(numpy.float32(490.1343))),
    ("a list", numpy.ndarray, reference([380, 555.5, 800]),
     lambda: helligkeit.brightness([380, 555.5, 800])),
    ("NaN and the infinities", numpy.ndarray, reference([numpy.nan, -numpy.inf, numpy.inf]),
     lambda: helligkeit.brightness([numpy.nan, -numpy.inf, numpy.inf])),
    ("int32 in two dimensions", numpy.ndarray, reference(GRID),
     lambda: helligkeit.brightness(GRID)),
    ("float32", numpy.ndarray, reference(SPREAD.astype(numpy.float32)),
     lambda: helligkeit.brightness(SPREAD.astype(numpy.float32))),
    ("big-endian doubles", numpy.ndarray, reference(SPREAD),
     lambda: helligkeit.brightness(SPREAD.astype(">f8"))),
    ("empty", numpy.ndarray, reference(numpy.empty((0, 3))),
     lambda: helligkeit.brightness(numpy.empty((0, 3)))),
    ("every third, more than a block", numpy.ndarray, reference(SPREAD[::3]),
     lambda: helligkeit.brightness(SPREAD[::3])),
    ("transposed", numpy.ndarray, reference(GRID.T.astype(float)),
     lambda: helligkeit.brightness(GRID.astype(float).T)),
    ("unaligned", numpy.ndarray, reference(SPREAD),
     lambda: helligkeit.brightness(unaligned(SPREAD))),
    ("unaligned out=", numpy.ndarray, reference(SPREAD),
     lambda: helligkeit.brightness(SPREAD, out=unaligned(numpy.zeros_like(SPREAD)))),
    ("out= broadcast", numpy.ndarray, reference(numpy.broadcast_to(SPREAD[:7], (3, 7))),
     lambda: helligkeit.brightness(SPREAD[:7], out=numpy.empty((3, 7)))),
    ("in place", numpy.ndarray, reference(SPREAD), lambda: in_place(SPREAD.copy())),
    ("where=", numpy.ndarray, numpy.where(MASK, reference(SPREAD[:8]), FULL),
     lambda: helligkeit.brightness(SPREAD[:8], out=FULL.copy(), where=MASK)),
    ("a masked array", numpy.ma.MaskedArray, reference(MASKED.filled(0)),
     lambda: helligkeit.brightness(MASKED)),
    ("a dask array on a LocalCluster", numpy.ndarray, reference(SPREAD[:2000]),
     lambda: on_local_cluster(SPREAD[:2000])),
    ("None", TypeError, None, lambda: helligkeit.brightness(None)),
    ("text", TypeError, None, lambda: helligkeit.brightness("550")),
    ("bytes", TypeError, None, lambda: helligkeit.brightness(b"550")),
    ("a list with None", TypeError, None, lambda: helligkeit.brightness([550, None])),
    ("objects", TypeError, None,
     lambda: helligkeit.brightness(numpy.array([550.0], dtype=object))),
    ("complex", TypeError, None, lambda: helligkeit.brightness(550 + 0j)),
    ("dates", TypeError, None,
     lambda: helligkeit.brightness(numpy.array(["2026-01-01"], dtype="datetime64[D]"))),
]


def check_row(name, kind, expected, call):
    if isinstance(kind, type) and issubclass(kind, Exception):
        try:
            result = call()
        except kind:
            return
        raise AssertionError(f"{name}: gives {result!r}, not {kind.__name__}")
    result = call()
    assert type(result) is kind, f"{name}: gives a {type(result)}, not {kind}"
    values = numpy.ma.getdata(result)
    assert values.dtype == numpy.float64 and values.shape == expected.shape, \
        f"{name}: gives {values.dtype} of shape {values.shape}, not float64 of {expected.shape}"
    assert (values.view(numpy.uint64) == expected.view(numpy.uint64)).all(), \
        f"{name}: gives {values!r}, not {expected!r}"
    if kind is numpy.ma.MaskedArray:
        assert (result.mask == MASKED.mask).all(), f"{name}: mask {result.mask}"


for row in ROWS:
    check_row(*row)

wavelengths = [struct.unpack("<d", struct.pack("<Q", int(arg, 16)))[0] for arg in sys.argv[1:]]
from_list = helligkeit.brightness(wavelengths)
from_array = helligkeit.brightness(numpy.array(wavelengths))
assert isinstance(from_list, numpy.ndarray) and from_list.dtype == numpy.float64
assert (from_list.view(numpy.uint64) == from_array.view(numpy.uint64)).all()
print(helligkeit.library_version(), helligkeit.__version__)
for wavelength, listed in zip(wavelengths, from_list):
    single = helligkeit.brightness(wavelength)
    assert isinstance(single, float)
    print(f"{bits(single):016x} {bits(listed):016x}")
