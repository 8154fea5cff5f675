"""The brightness of a full colour at a spectral wavelength, from the
helligkeit library: the numbers the helligkeit program reports, read off a
stored curve of 87 cubic segments spanning 380-780 nm.

brightness is a numpy ufunc: it takes numbers, sequences and arrays of
wavelengths in nanometres, broadcasts them and keeps their shape, and takes
out= and where= as numpy's own ufuncs do. Each element is cast to float64,
and each result is the library's helligkeit_brightness() of it, bit for
bit.

    >>> import numpy, helligkeit
    >>> helligkeit.brightness(550.0)
    84.11999999998807
    >>> helligkeit.brightness([380, 555.5, 800])
    array([ 0.61000003, 87.28521485,  0.        ])
    >>> helligkeit.brightness(numpy.ma.masked_less([[550, 300], [600, 0]], 400))
    masked_array(
      data=[[84.11999999998807, --],
            [55.32785917717774, --]],
      mask=[[False,  True],
            [False,  True]],
      fill_value=1e+20)
    >>> out = numpy.zeros(3)
    >>> helligkeit.brightness([550, 560, 570], out=out, where=[True, False, True])
    array([84.12      ,  0.        , 99.24000005])

None, text, bytes and objects are refused with TypeError. A dask array is
computed chunk by chunk, each chunk in one call: brightness(dask_array).

__version__ is the package's version, library_version() that of the library
the module runs with: the shared library libhelligkeit.so.1 of the Debian
package libhelligkeit1, or the library built into the module when it is
installed with pip.
"""

try:
    from helligkeit._ufunc import __version__, brightness, library_version
except ImportError as error:
    if "libhelligkeit" not in str(error):
        raise
    raise ImportError(
        f"the helligkeit module cannot load the helligkeit library ({error}): install the "
        "library's package, libhelligkeit1 (apt-get install libhelligkeit1), or install the "
        "module with pip (pip install helligkeit-VERSION.tar.gz), which builds the library "
        "into it") from error

__all__ = ["__version__", "brightness", "library_version"]
