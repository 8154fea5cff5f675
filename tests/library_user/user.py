"""The Python module used as its users do, for the checks of the installed
library (tools/check_library.py): the same arguments and output as user.c,
from brightness() of each float and of the whole list, once as a list and
once as a numpy array."""

import struct
import sys

import numpy

import helligkeit


def bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


wavelengths = [struct.unpack("<d", struct.pack("<Q", int(arg, 16)))[0] for arg in sys.argv[1:]]
from_list = helligkeit.brightness(wavelengths)
from_array = helligkeit.brightness(numpy.array(wavelengths))
assert isinstance(from_list, numpy.ndarray) and from_list.dtype == numpy.float64
assert (from_list.view(numpy.uint64) == from_array.view(numpy.uint64)).all()
print(helligkeit.library_version(), helligkeit.library_version())
for wavelength, listed in zip(wavelengths, from_list):
    single = helligkeit.brightness(wavelength)
    assert isinstance(single, float)
    print(f"{bits(single):016x} {bits(listed):016x}")
