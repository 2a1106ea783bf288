// Protocol.from_dict: the inverse of to_dict(). Like the decoder, it walks each record's
// `fields` description and applies the decoder's value rules (protocols/file/value_rules.hpp),
// so a dict is taken exactly as a file holding the same values would be loaded. The protocol is
// built as a local value and becomes an object only once all of it was read: a refusal or
// running out of memory leaves nothing behind.
#include <algorithm>
#include <array>
#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/field_path.hpp"
#include "protocols/file/record_encoding.hpp"
#include "protocols/file/value_rules.hpp"
#include "protocols/record.hpp"
#include "pyvora/convert_samples.hpp"
#include "pyvora/describe.hpp"
#include "pyvora/methods.hpp"
#include "pyvora/read_back.hpp"

namespace pyvora {
namespace {

namespace sig = protocols::signals;
namespace file = protocols::file;
using protocols::FieldPath;
using protocols::settings::MONITOR_TRACES;

// What is wrong with the value at the reader's path.
struct Refusal {
    std::string what;
};

[[noreturn]] void refuse(std::string what) { throw Refusal{std::move(what)}; }

// The path is kept outside the call stack and pushed and popped by hand, so that it still
// names the failing field once a refusal has been thrown out of the walk.
struct Reader {
    FieldPath path;
};

// ---- Scalars.

double read_float(PyObject* obj) {
    if (PyFloat_Check(obj)) return PyFloat_AS_DOUBLE(obj);  // bit for bit, NaN payloads included
    if (PyLong_Check(obj) && !PyBool_Check(obj)) {
        const double value = PyLong_AsDouble(obj);
        if (value == -1.0 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PythonError{};
            PyErr_Clear();
            refuse("value " + int_text(obj) + " too large for a float");
        }
        return value;
    }
    refuse("expected a float or an int, got " + given(obj));
}

std::uint64_t read_uint64(PyObject* obj) {
    if (!PyLong_Check(obj) || PyBool_Check(obj)) refuse("expected an int, got " + given(obj));
    const unsigned long long value = PyLong_AsUnsignedLongLong(obj);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PythonError{};
        PyErr_Clear();
        refuse("value " + int_text(obj) + " outside 0..18446744073709551615");
    }
    return value;
}

bool read_bool(PyObject* obj) {
    if (!PyBool_Check(obj)) refuse("expected a bool, got " + given(obj));
    return obj == Py_True;
}

void read_text(PyObject* obj, std::string& text) {
    if (!PyUnicode_Check(obj)) refuse("expected a str, got " + given(obj));
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
    if (data == nullptr) {
        if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw PythonError{};
        PyErr_Clear();
        refuse("lone surrogate, not encodable as UTF-8");
    }
    text.assign(data, static_cast<std::size_t>(size));
}

// ---- Mappings and sequences.

bool is_abc_mapping(PyObject* obj) {
    static PyObject* mapping = nullptr;  // collections.abc.Mapping, kept for the process
    if (mapping == nullptr) {
        Ref abc = check(PyImport_ImportModule("collections.abc"));
        mapping = check(PyObject_GetAttrString(abc.get(), "Mapping")).release();
    }
    const int result = PyObject_IsInstance(obj, mapping);
    if (result < 0) throw PythonError{};
    return result == 1;
}

// A mapping read as one record: a dict (or subclass) through the dict interface, any other
// collections.abc.Mapping through its own methods.
class Fields {
public:
    explicit Fields(PyObject* obj) : mapping_(Ref::borrow(obj)), dict_(PyDict_Check(obj)) {
        if (!dict_ && !is_abc_mapping(obj)) refuse("expected a mapping, got " + given(obj));
    }

    // The value under a field's name, or null when the key is missing.
    Ref get(std::string_view name) const {
        Ref key = check(PyUnicode_FromStringAndSize(name.data(), static_cast<Py_ssize_t>(name.size())));
        if (dict_) {
            PyObject* item = PyDict_GetItemWithError(mapping_.get(), key.get());
            if (item == nullptr && PyErr_Occurred()) throw PythonError{};
            return Ref::borrow(item);
        }
        Ref item = Ref::steal(PyObject_GetItem(mapping_.get(), key.get()));
        if (!item) {
            if (!PyErr_ExceptionMatches(PyExc_KeyError)) throw PythonError{};
            PyErr_Clear();
        }
        return item;
    }

    // Refuses the first key that names none of the fields; `extra` is one more allowed name.
    void check_keys(const std::vector<std::string_view>& names, std::string_view extra = {}) const {
        Ref keys = check(dict_ ? PyDict_Keys(mapping_.get()) : PyMapping_Keys(mapping_.get()));
        Ref list = check(PySequence_Fast(keys.get(), "keys() of a mapping"));
        const Py_ssize_t n = PySequence_Fast_GET_SIZE(list.get());
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* key = PySequence_Fast_GET_ITEM(list.get(), i);
            if (!PyUnicode_Check(key)) refuse("unknown key of type " + type_name(key) + ", not a str");
            Py_ssize_t size = 0;
            const char* data = PyUnicode_AsUTF8AndSize(key, &size);
            if (data == nullptr) {
                PyErr_Clear();  // a key that UTF-8 cannot hold names no field
            } else {
                const std::string_view name(data, static_cast<std::size_t>(size));
                if (name == extra && !extra.empty()) continue;
                if (std::find(names.begin(), names.end(), name) != names.end()) continue;
            }
            refuse("unknown key " + utf8(check(PyUnicode_Type.tp_repr(key))));
        }
    }

private:
    Ref mapping_;
    bool dict_;
};

// A list's items, held for the walk: a list or tuple as it is when nothing read from its items
// can run Python code, otherwise (and for any other sequence) a tuple of its items, so that no
// code run by a nested mapping can change what is being read.
class Items {
public:
    Items(PyObject* obj, bool stable) {
        if (PyTuple_Check(obj) || (stable && PyList_Check(obj))) {
            seq_ = Ref::borrow(obj);
            return;
        }
        if (PyUnicode_Check(obj) || PyBytes_Check(obj) || PyByteArray_Check(obj) || PyDict_Check(obj) ||
            !PySequence_Check(obj) || (!PyList_Check(obj) && is_abc_mapping(obj))) {
            refuse("expected a list, got " + given(obj));
        }
        seq_ = check(PySequence_Tuple(obj));
    }
    std::size_t size() const noexcept { return static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq_.get())); }
    PyObject* const* items() const noexcept { return PySequence_Fast_ITEMS(seq_.get()); }

private:
    Ref seq_;
};

template <class T>
void read_value(Reader& r, PyObject* obj, T& value);

template <class T>
const std::vector<std::string_view>& field_names() {
    static const std::vector<std::string_view> names = [] {
        std::vector<std::string_view> out;
        const T record{};
        T::fields(record, [&](std::string_view name, const auto&) { out.push_back(name); });
        return out;
    }();
    return names;
}

// The record's fields from a mapping that holds exactly them (and `extra`, read by the caller).
template <protocols::Record R>
void read_fields(Reader& r, const Fields& fields, R& record, std::string_view extra = {}) {
    fields.check_keys(field_names<R>(), extra);
    R::fields(record, [&](std::string_view name, auto& member) {
        r.path.push(name);
        const Ref item = fields.get(name);
        if (!item) refuse("missing key");
        read_value(r, item.get(), member);
        if (auto problem = file::field_problem(record, name, member)) refuse(std::move(*problem));
        r.path.pop();
    });
}

template <class T, class A>
void read_sequence(Reader& r, PyObject* obj, std::vector<T, A>& items) {
    const Items list(obj, std::same_as<T, double>);
    items.clear();
    items.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
        r.path.push(i);
        read_value(r, list.items()[i], items.emplace_back());
        r.path.pop();
    }
}

void read_flags(Reader& r, PyObject* obj, std::array<bool, MONITOR_TRACES>& flags) {
    const Items list(obj, true);
    if (list.size() != flags.size()) {
        refuse("expected " + std::to_string(flags.size()) + " flags, got " + std::to_string(list.size()));
    }
    for (std::size_t i = 0; i < flags.size(); ++i) {
        r.path.push(i);
        flags[i] = read_bool(list.items()[i]);
        r.path.pop();
    }
}

void read_signal(Reader& r, PyObject* obj, sig::Signal& signal) {
    using Params = sig::Signal::Params;
    const Fields fields(obj);
    r.path.push("kind");
    const Ref kind = fields.get("kind");
    if (!kind) refuse("missing key");
    if (!PyUnicode_Check(kind.get())) refuse("expected a str, got " + given(kind.get()));
    std::size_t index = 0;
    while (index < sig::Signal::kind_names.size() &&
           PyUnicode_CompareWithASCIIString(kind.get(), std::string(sig::Signal::kind_names[index]).c_str()) != 0) {
        ++index;
    }
    if (index == sig::Signal::kind_names.size()) {
        refuse("unknown signal kind " + utf8(check(PyUnicode_Type.tp_repr(kind.get()))));
    }
    r.path.pop();
    // The parameters' fields sit right under the signal, beside "kind".
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (void)((index == I ? (read_fields(r, fields, signal.params.template emplace<I>(), "kind"), true) : false) || ...);
    }(std::make_index_sequence<std::variant_size_v<Params>>{});
}

// ---- Samples.

void read_samples(Reader& r, PyObject* obj, sig::Samples& samples) {
    try {
        if (PyObject_CheckBuffer(obj)) {
            read_buffer_samples(obj, samples);
            return;
        }
        // Reading an int runs no Python code, so a list cannot change while it is read.
        const Items list(obj, true);
        read_int_samples({list.items(), list.size()}, samples);
    } catch (const SampleRefusal& refusal) {
        if (refusal.position) r.path.push(*refusal.position);
        refuse(refusal.what);
    }
}

// ---- The walk: each kind of field read as to_dict() writes it.

template <class T>
void read_value(Reader& r, PyObject* obj, T& value) {
    if constexpr (std::same_as<T, bool>) {
        value = read_bool(obj);
    } else if constexpr (std::same_as<T, std::uint64_t>) {
        value = read_uint64(obj);
    } else if constexpr (std::same_as<T, double>) {
        value = read_float(obj);
    } else if constexpr (std::same_as<T, std::string>) {
        read_text(obj, value);
    } else if constexpr (std::same_as<T, sig::Samples>) {
        read_samples(r, obj, value);
    } else if constexpr (file::detail::is_vector<T>) {
        read_sequence(r, obj, value);
    } else if constexpr (std::same_as<T, std::array<bool, MONITOR_TRACES>>) {
        read_flags(r, obj, value);
    } else if constexpr (std::same_as<T, sig::Signal>) {
        read_signal(r, obj, value);
    } else if constexpr (protocols::Record<T>) {
        read_fields(r, Fields(obj), value);
    } else {
        static_assert(file::detail::unsupported<T>, "this field type has no dict form");
    }
}

}  // namespace
}  // namespace pyvora

namespace pyvora::methods {

Ref from_dict(PyTypeObject* cls, AnyObject data) {
    Reader r;
    try {
        protocols::settings::Settings settings;
        read_value(r, data.object, settings);
        return new_protocol(cls, protocols::Protocol{std::move(settings)});
    } catch (const Refusal& refusal) {
        const std::string path = r.path.text();
        const std::string message = path.empty() ? refusal.what : refusal.what + " for " + path;
        raise_decode_error(message, path, std::nullopt);
    }
}

}  // namespace pyvora::methods
