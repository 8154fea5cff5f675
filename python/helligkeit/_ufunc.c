/* The extension helligkeit._ufunc: the library's brightness as a numpy
 * ufunc, with one loop from double to double, so that numpy does what its
 * users expect of any ufunc (broadcasting, out=, where=, casting, 0-d input,
 * subclasses such as masked arrays) and refuses what it cannot cast to a
 * double safely (None, text, bytes, objects). */
#define PY_SSIZE_T_CLEAN
#include <Python.h>
#define NPY_NO_DEPRECATED_API NPY_1_7_API_VERSION
#include <fenv.h>
#include <helligkeit.h>
#include <numpy/arrayobject.h>
#include <numpy/ufuncobject.h>
#include <stdalign.h>
#include <stdint.h>
#include <string.h>

/* Doubles copied at a time where the data is not a run of aligned,
 * contiguous doubles. */
enum { kBlock = 256 };

static int Aligned(const char* pointer) {
  return (uintptr_t)pointer % alignof(double) == 0;
}

/* `count` elements, `in_step` and `out_step` bytes apart, copied through a
 * block on the stack, so that the library never reads or writes a
 * misaligned double. */
static void CopiedThrough(const char* in, char* out, npy_intp count, npy_intp in_step,
                          npy_intp out_step) {
  double block[kBlock];
  while (count > 0) {
    const npy_intp n = count < kBlock ? count : kBlock;
    for (npy_intp i = 0; i < n; ++i) {
      memcpy(&block[i], in + i * in_step, sizeof block[i]);
    }
    helligkeit_brightness_n(block, block, (size_t)n);
    for (npy_intp i = 0; i < n; ++i) {
      memcpy(out + i * out_step, &block[i], sizeof block[i]);
    }
    in += n * in_step;
    out += n * out_step;
    count -= n;
  }
}

/* The loop, on one run of `dimensions[0]` elements, `steps` bytes apart.
 * One element (a number; numpy gives a scalar a step of 0) takes the single
 * call; a contiguous, aligned run goes to the library's array call where it
 * lies (the same array in and out is allowed); any other run is copied
 * through a block.
 *
 * The library compares each wavelength with the curve's bounds, which
 * raises the invalid-operation flag for NaN; numpy, which clears the
 * floating-point flags before a ufunc's loops and reads them after, would
 * take that for an invalid result and warn (or raise, under
 * numpy.errstate), but NaN has a result, 0.0. So the flag is cleared. */
static void BrightnessLoop(char** args, const npy_intp* dimensions, const npy_intp* steps,
                           void* data) {
  (void)data;
  const npy_intp count = dimensions[0];
  const int contiguous =
      steps[0] == (npy_intp)sizeof(double) && steps[1] == (npy_intp)sizeof(double);
  if (count == 1) {
    /* One element, as for a number: the single call, wherever it lies. */
    double wavelength;
    memcpy(&wavelength, args[0], sizeof wavelength);
    const double brightness = helligkeit_brightness(wavelength);
    memcpy(args[1], &brightness, sizeof brightness);
  } else if (contiguous && Aligned(args[0]) && Aligned(args[1])) {
    helligkeit_brightness_n((const double*)(const void*)args[0], (double*)(void*)args[1],
                            (size_t)count);
  } else {
    CopiedThrough(args[0], args[1], count, steps[0], steps[1]);
  }
#ifdef FE_INVALID
  if (fetestexcept(FE_INVALID)) {
    feclearexcept(FE_INVALID);
  }
#endif
}

static PyUFuncGenericFunction loops[] = {BrightnessLoop};
static void* loop_data[] = {NULL};
static char loop_types[] = {NPY_DOUBLE, NPY_DOUBLE};

static PyObject* LibraryVersion(PyObject* module, PyObject* unused) {
  (void)module;
  (void)unused;
  return PyUnicode_FromString(helligkeit_version());
}

static PyMethodDef methods[] = {
    {"library_version", LibraryVersion, METH_NOARGS,
     "library_version()\n--\n\n"
     "The version of the loaded library, \"MAJOR.MINOR.PATCH\"."},
    {NULL, NULL, 0, NULL},
};

static struct PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "helligkeit._ufunc",
    "The helligkeit library as a numpy ufunc (see the package helligkeit).",
    -1,
    methods,
    NULL,
    NULL,
    NULL,
    NULL,
};

static const char brightness_doc[] =
    "The brightness at wavelengths in nanometres, a numpy ufunc.\n\n"
    "Each element is cast to float64 (integers and float32 are; None, text,\n"
    "bytes and objects are not) and gives helligkeit_brightness() of it, bit\n"
    "for bit. A number gives a number, an array an array of float64 of the\n"
    "broadcast shape; out=, where= and the rest of a ufunc's arguments apply.\n"
    "Outside 380-780 nm, and for NaN and the infinities, the brightness is 0.0.";

PyMODINIT_FUNC PyInit__ufunc(void) {
  import_array();
  import_umath();
  PyObject* module = PyModule_Create(&module_definition);
  if (module == NULL) {
    return NULL;
  }
  PyObject* brightness = PyUFunc_FromFuncAndData(loops, loop_data, loop_types, 1, 1, 1,
                                                 PyUFunc_None, "brightness", brightness_doc, 0);
  if (PyModule_AddObject(module, "brightness", brightness) < 0) {
    Py_XDECREF(brightness);
    Py_DECREF(module);
    return NULL;
  }
  /* The version of the header the extension is built with, the package's. */
  if (PyModule_AddStringConstant(module, "__version__", HELLIGKEIT_VERSION) < 0) {
    Py_DECREF(module);
    return NULL;
  }
  return module;
}
