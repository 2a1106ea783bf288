#include "pyvora/arguments.hpp"

#include <string>

namespace pyvora {
namespace {

std::string qualified(const MethodSpec& decl) {
    return std::string("Protocol.").append(decl.name).append("()");
}

[[noreturn]] void type_error(const std::string& message) {
    PyErr_SetString(PyExc_TypeError, message.c_str());
    throw PythonError{};
}

[[noreturn]] void too_many_positional(const MethodSpec& decl, Py_ssize_t given) {
    const std::string was = given == 1 ? "was" : "were";
    std::string message = qualified(decl);
    if (decl.required() != decl.count) {
        message += " takes from " + std::to_string(decl.required()) + " to " +
                   std::to_string(decl.count) + " positional arguments but " +
                   std::to_string(given) + " " + was + " given";
    } else {
        message += " takes " + std::to_string(decl.count) + " positional arguments but " +
                   std::to_string(given) + " " + was + " given";
    }
    type_error(message);
}

// The parameter a keyword names: an interned name by identity first, then any str by text.
std::size_t parameter_named(const MethodSpec& decl, const ParamNames& names, PyObject* name) {
    for (std::size_t i = 0; i < decl.count; ++i) {
        if (names.names[i] == name) return i;
    }
    if (PyUnicode_Check(name)) {
        for (std::size_t i = 0; i < decl.count; ++i) {
            // Two str objects: the comparison cannot fail.
            if (names.names[i] != nullptr && PyUnicode_Compare(name, names.names[i]) == 0) return i;
        }
    }
    return decl.count;
}

// Places one keyword argument, or fails for an unknown name or a second value.
void place_keyword(const MethodSpec& decl, const ParamNames& names, PyObject* name, PyObject* value,
                   PyObject** out) {
    const std::size_t i = parameter_named(decl, names, name);
    if (i == decl.count) {
        const std::string prefix = qualified(decl);
        PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", prefix.c_str(), name);
        throw PythonError{};
    }
    if (out[i] != nullptr) {
        type_error(qualified(decl) + " got multiple values for argument '" + std::string(decl.params[i].name) + "'");
    }
    out[i] = value;
}

void check_required(const MethodSpec& decl, PyObject** out) {
    std::array<std::string_view, 4> missing{};
    std::size_t n = 0;
    for (std::size_t i = 0; i < decl.required(); ++i) {
        if (out[i] == nullptr) missing[n++] = decl.params[i].name;
    }
    if (n == 0) return;
    std::string message = qualified(decl) + " missing " + std::to_string(n) + " required positional " +
                          (n == 1 ? "argument" : "arguments") + ": ";
    for (std::size_t i = 0; i < n; ++i) {
        if (i != 0) {
            if (n > 2) message += ',';
            message += i == n - 1 ? " and " : " ";
        }
        message.append("'").append(missing[i]).append("'");
    }
    type_error(message);
}

}  // namespace

std::string docstring(const MethodSpec& decl) {
    std::string doc(decl.name);
    doc += decl.on_class ? "($type" : "($self";
    for (std::size_t i = 0; i < decl.count; ++i) {
        doc.append(", ").append(decl.params[i].name);
        if (!decl.params[i].default_text.empty()) doc.append("=").append(decl.params[i].default_text);
    }
    doc += ")\n--\n\n";
    doc += decl.doc;
    return doc;
}

void intern_names(const MethodSpec& decl, ParamNames& names) {
    for (std::size_t i = 0; i < decl.count; ++i) {
        if (names.names[i] != nullptr) continue;
        const std::string name(decl.params[i].name);
        names.names[i] = check(PyUnicode_InternFromString(name.c_str())).release();
    }
}

void bind_arguments(const MethodSpec& decl, const ParamNames& names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject** out) {
    const Py_ssize_t positional = PyVectorcall_NARGS(nargs);
    if (positional > static_cast<Py_ssize_t>(decl.count)) too_many_positional(decl, positional);
    for (Py_ssize_t i = 0; i < positional; ++i) out[i] = args[i];
    if (kwnames != nullptr) {
        const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            place_keyword(decl, names, PyTuple_GET_ITEM(kwnames, k), args[positional + k], out);
        }
    }
    check_required(decl, out);
}

void bind_arguments(const MethodSpec& decl, const ParamNames& names, PyObject* args, PyObject* kwargs,
                    PyObject** out) {
    const Py_ssize_t positional = args != nullptr ? PyTuple_GET_SIZE(args) : 0;
    if (positional > static_cast<Py_ssize_t>(decl.count)) too_many_positional(decl, positional);
    for (Py_ssize_t i = 0; i < positional; ++i) out[i] = PyTuple_GET_ITEM(args, i);
    if (kwargs != nullptr) {
        Py_ssize_t pos = 0;
        PyObject *key = nullptr, *value = nullptr;
        while (PyDict_Next(kwargs, &pos, &key, &value)) place_keyword(decl, names, key, value, out);
    }
    check_required(decl, out);
}

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

Text FromPython<Text>::convert(PyObject* obj) {
    if (!PyUnicode_Check(obj)) throw_cast_error(obj, "str");
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) throw PythonError{};
    return Text{std::string_view(data, static_cast<std::size_t>(size))};
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

ProtocolObject& receiver(PyObject* self) {
    // The cast message names the receiver's type, so a missing receiver needs a message of its own.
    if (self == nullptr) {
        type_error("a Protocol method was called without a receiver");
    }
    if (protocol_type() == nullptr || !PyObject_TypeCheck(self, protocol_type())) {
        throw_cast_error(self, "Protocol");
    }
    return *reinterpret_cast<ProtocolObject*>(self);
}

}  // namespace pyvora
