// Arbitrary signals from NumPy arrays: the array is read in place, checked and quantised in one
// pass (protocols/quantise.hpp). No reference to it is kept, and it is never copied.
#include <cstdint>

#include "protocols/quantise.hpp"
#include "pyvora/methods.hpp"
#include "pyvora/numpy_api.hpp"

namespace pyvora {

// A one-dimensional ndarray (or subclass) of native-order float64, in any memory layout.
// NumPy is loaded here, on the first call that passes samples; a failure to load it is a panic.
SampleArray FromPython<SampleArray>::convert(PyObject* obj) {
    load_numpy_api();
    if (!PyArray_Check(obj)) throw_cast_error(obj, "ndarray");
    auto* array = reinterpret_cast<PyArrayObject*>(obj);
    if (PyArray_NDIM(array) != 1) throw_cast_error(obj, "ndarray");
    Ref float64 = Ref::steal(reinterpret_cast<PyObject*>(PyArray_DescrFromType(NPY_FLOAT64)));
    if (!float64) throw PythonError{};
    // Equivalence refuses byte-swapped float64, which would need a conversion to read.
    if (!PyArray_EquivTypes(PyArray_DESCR(array), reinterpret_cast<PyArray_Descr*>(float64.get()))) {
        throw_cast_error(obj, "ndarray");
    }
    const char* data = PyArray_BYTES(array);
    const std::int64_t stride = PyArray_STRIDE(array, 0);
    const bool aligned = reinterpret_cast<std::uintptr_t>(data) % alignof(double) == 0;
    return SampleArray{data, static_cast<std::int64_t>(PyArray_DIM(array, 0)), stride,
                       aligned && stride == static_cast<std::int64_t>(sizeof(double))};
}

}  // namespace pyvora

namespace pyvora::methods {

namespace sig = protocols::signals;

StagedAppend add_arbitrary_signal(Settings& s, SampleArray samples) {
    const std::uint64_t expected = sig::num_samples(s.session_duration);
    protocols::require(samples.length >= 0 && static_cast<std::uint64_t>(samples.length) == expected,
                       "samples.len() == self.get_num_samples()");
    sig::Samples quantised =
        sig::quantise(sig::SampleView{samples.data, samples.length, samples.stride, samples.contiguous});
    return StagedAppend(s.signals, sig::Signal{sig::ArbitrarySignalParams{std::move(quantised)}});
}

}  // namespace pyvora::methods
