#include "pyvora/binding/convert.hpp"

#include <string>

#include "pyvora/binding/numpy_api.hpp"

namespace pyvora {

void rethrow_for_argument(std::string_view name) {
    Ref error = fetch_exception();
    if (!error || !Py_IS_TYPE(error.get(), reinterpret_cast<PyTypeObject*>(PyExc_TypeError))) {
        restore_exception(std::move(error));
        throw PythonError{};
    }
    Ref text = Ref::steal(PyObject_Str(error.get()));
    if (!text) throw PythonError{};
    const std::string param(name);
    Ref message = check(PyUnicode_FromFormat("argument '%s': %U", param.c_str(), text.get()));
    Ref remapped = check(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    // The new error takes over the original's cause (none when it had none).
    PyException_SetCause(remapped.get(), PyException_GetCause(error.get()));
    restore_exception(std::move(remapped));
    throw PythonError{};
}

double FromPython<double>::convert(PyObject* obj) {
    if (PyFloat_CheckExact(obj)) return PyFloat_AS_DOUBLE(obj);
    const double value = PyFloat_AsDouble(obj);
    if (value == -1.0 && PyErr_Occurred()) throw PythonError{};
    return value;
}

std::uint64_t FromPython<std::uint64_t>::convert(PyObject* obj) {
    Ref number = PyLong_Check(obj) ? Ref::borrow(obj) : check(PyNumber_Index(obj));
    const unsigned long long value = PyLong_AsUnsignedLongLong(number.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PythonError{};
    return value;
}

namespace {

// NumPy's boolean scalar, recognised by its type's module and name so NumPy is never imported.
bool is_numpy_bool(PyObject* obj) {
    auto* type = reinterpret_cast<PyObject*>(Py_TYPE(obj));
    Ref module = Ref::steal(PyObject_GetAttrString(type, "__module__"));
    if (!module) {
        PyErr_Clear();
        return false;
    }
    if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) {
        return false;
    }
    Ref name = Ref::steal(PyType_GetName(Py_TYPE(obj)));
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
           PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

}  // namespace

bool FromPython<bool>::convert(PyObject* obj) {
    if (PyBool_Check(obj)) return obj == Py_True;
    if (is_numpy_bool(obj)) {
        PyNumberMethods* number = Py_TYPE(obj)->tp_as_number;
        if (number != nullptr && number->nb_bool != nullptr) {
            const int truth = number->nb_bool(obj);
            if (truth < 0) throw PythonError{};
            return truth != 0;
        }
        Ref type_name = Ref::steal(PyType_GetQualName(Py_TYPE(obj)));
        if (!type_name) throw PythonError{};
        PyErr_Format(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion",
                     type_name.get());
        throw PythonError{};
    }
    throw_cast_error(obj, "bool");
}

namespace {

template <class Id>
Id member_of(PyObject* obj, PyTypeObject* type, const char* expected) {
    if (type == nullptr || !PyObject_TypeCheck(obj, type)) throw_cast_error(obj, expected);
    auto* member = reinterpret_cast<MemberObject*>(obj);
    SharedAccess access(member->access);
    return static_cast<Id>(member->number);
}

}  // namespace

CoilId FromPython<CoilId>::convert(PyObject* obj) { return member_of<CoilId>(obj, coil_type(), "Coil"); }

ChannelId FromPython<ChannelId>::convert(PyObject* obj) {
    return member_of<ChannelId>(obj, channel_type(), "Channel");
}

std::string_view utf8_of(PyObject* str) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(str, &size);
    if (data == nullptr) throw PythonError{};
    return {data, static_cast<std::size_t>(size)};
}

Text FromPython<Text>::convert(PyObject* obj) {
    if (!PyUnicode_Check(obj)) throw_cast_error(obj, "str");
    return Text{utf8_of(obj)};
}

FsPath FromPython<FsPath>::convert(PyObject* obj) { return FsPath{check(PyOS_FSPath(obj))}; }

namespace {

// Whether obj exports a buffer whose bytes are not one C-contiguous run, asked with a request
// that takes any layout. Leaves no error pending.
bool exports_non_contiguous(PyObject* obj) noexcept {
    Py_buffer view;
    if (PyObject_GetBuffer(obj, &view, PyBUF_FULL_RO) < 0) {
        PyErr_Clear();
        return false;
    }
    const bool contiguous = PyBuffer_IsContiguous(&view, 'C') != 0;
    PyBuffer_Release(&view);
    return !contiguous;
}

}  // namespace

BufferView::BufferView(PyObject* obj) {
    // A simple request: the exporter must offer its bytes as one contiguous run.
    if (PyObject_GetBuffer(obj, &view_, PyBUF_SIMPLE) == 0) return;
    // Some exporters refuse such a request with an error of their own (NumPy: ValueError); a
    // buffer that is not contiguous is a BufferError whoever exports it, with their text.
    if (!PyErr_ExceptionMatches(PyExc_BufferError)) {
        Ref error = fetch_exception();
        if (!exports_non_contiguous(obj)) {
            restore_exception(std::move(error));
        } else if (Ref text = Ref::steal(PyObject_Str(error.get()))) {
            PyErr_SetObject(PyExc_BufferError, text.get());
        }
    }
    throw PythonError{};
}

SampleArray FromPython<SampleArray>::convert(PyObject* obj) {
    load_numpy(Surface::contract);
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
