// Protocol.from_dict: the inverse of to_dict(). Like the decoder, it is a visitor of the walk of
// records and applies the decoder's value rules (protocols/rules/value_rules.hpp),
// so a dict is taken exactly as a file holding the same values would be loaded, except for the
// empty signal table a new protocol holds (to_dict() gives it; no file does). The protocol is
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
#include "protocols/rules/data_refusals.hpp"
#include "protocols/rules/value_rules.hpp"
#include "protocols/record.hpp"
#include "pyvora/binding/convert_samples.hpp"
#include "pyvora/binding/describe.hpp"
#include "pyvora/protocol/methods.hpp"
#include "pyvora/protocol/read_back.hpp"

namespace pyvora {
namespace {

namespace sig = protocols::signals;
namespace rules = protocols::rules;
using rules::Due;
using protocols::FieldPath;

// What is wrong with the value at the reader's path.
struct Refusal {
    std::string what;
};

[[noreturn]] void refuse(std::string what) { throw Refusal{std::move(what)}; }

// ---- Scalars.

double read_float(PyObject* obj) {
    if (PyFloat_Check(obj)) return PyFloat_AS_DOUBLE(obj);  // bit for bit, NaN payloads included
    if (PyLong_Check(obj) && !PyBool_Check(obj)) {
        const double value = PyLong_AsDouble(obj);
        if (value == -1.0 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PythonError{};
            PyErr_Clear();
            refuse(rules::float_range_problem(int_text(obj)));
        }
        return value;
    }
    refuse(rules::kind_problem(Due::a_float, given(obj)));
}

std::uint64_t read_uint64(PyObject* obj) {
    if (!PyLong_Check(obj) || PyBool_Check(obj)) refuse(rules::kind_problem(Due::an_int, given(obj)));
    const unsigned long long value = PyLong_AsUnsignedLongLong(obj);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PythonError{};
        PyErr_Clear();
        refuse(rules::count_range_problem(int_text(obj)));
    }
    return value;
}

bool read_bool(PyObject* obj) {
    if (!PyBool_Check(obj)) refuse(rules::kind_problem(Due::a_bool, given(obj)));
    return obj == Py_True;
}

void read_text(PyObject* obj, std::string& text) {
    if (!PyUnicode_Check(obj)) refuse(rules::kind_problem(Due::a_str, given(obj)));
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
        if (!dict_ && !is_abc_mapping(obj)) refuse(rules::kind_problem(Due::a_mapping, given(obj)));
    }

    // The value under a field's name, or null when the key is missing.
    Ref get(std::string_view name) const {
        Ref key = str_of(name);
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
            refuse(rules::unknown_key(utf8(check(PyUnicode_Type.tp_repr(key)))));
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
            refuse(rules::kind_problem(Due::a_list, given(obj)));
        }
        seq_ = check(PySequence_Tuple(obj));
    }
    std::size_t size() const noexcept { return static_cast<std::size_t>(PySequence_Fast_GET_SIZE(seq_.get())); }
    PyObject* const* items() const noexcept { return PySequence_Fast_ITEMS(seq_.get()); }

private:
    Ref seq_;
};

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

// A visitor of the walk (protocols/record.hpp): each kind read as to_dict() writes it. The walk
// keeps `path` outside the call stack, so that it still names the failing field once a refusal
// has been thrown out of the walk.
struct DictReader {
    FieldPath path;

    void scalar(bool& value, PyObject* obj) { value = read_bool(obj); }
    void scalar(std::uint64_t& value, PyObject* obj) { value = read_uint64(obj); }
    void scalar(double& value, PyObject* obj) { value = read_float(obj); }
    void text(std::string& value, PyObject* obj) { read_text(obj, value); }

    template <class T, class A>
    void list(std::vector<T, A>& items, PyObject* obj) {
        const Items list(obj, std::same_as<T, double>);
        items.clear();
        items.reserve(list.size());
        for (std::size_t i = 0; i < list.size(); ++i) {
            protocols::at(*this, i, [&] { protocols::visit(*this, items.emplace_back(), list.items()[i]); });
        }
    }

    template <std::size_t N>
    void flags(std::array<bool, N>& flags, PyObject* obj) {
        const Items list(obj, true);
        if (list.size() != flags.size()) {
            refuse(rules::flag_count_problem(flags.size(), list.size()));
        }
        protocols::each(*this, flags, [&](bool& flag, std::size_t i) { scalar(flag, list.items()[i]); });
    }

    void samples(sig::Samples& samples, PyObject* obj) {
        try {
            if (PyObject_CheckBuffer(obj)) {
                read_buffer_samples(obj, samples);
                return;
            }
            // Reading an int runs no Python code, so a list cannot change while it is read.
            const Items list(obj, true);
            read_int_samples({list.items(), list.size()}, samples);
        } catch (const SampleRefusal& refusal) {
            if (refusal.position) path.push(*refusal.position);
            refuse(refusal.what);
        }
    }

    template <protocols::Record R>
    void record(R& record, PyObject* obj) {
        protocols::walk(*this, record, Fields(obj));
    }
    // The record's fields from a mapping that holds exactly them (and a signal's kind).
    template <protocols::Record R>
    void open(R&, const Fields& fields) {
        fields.check_keys(field_names<R>(), protocols::SignalParams<R> ? protocols::kind_field : "");
    }
    template <class R, class T>
    void field(R& record, std::string_view name, T& member, const Fields& fields) {
        const Ref item = fields.get(name);
        if (!item) refuse(std::string(rules::missing_key));
        protocols::visit(*this, member, item.get());
        if (auto problem = rules::field_problem(record, member, rules::Reading::dict)) refuse(std::move(*problem));
    }

    // The parameters' fields sit right under the signal, beside its kind.
    void signal(sig::Signal& signal, PyObject* obj) { protocols::walk_signal(*this, signal, Fields(obj)); }
    std::size_t kind(sig::Signal&, const Fields& fields) {
        const Ref kind = fields.get(protocols::kind_field);
        if (!kind) refuse(std::string(rules::missing_key));
        if (!PyUnicode_Check(kind.get())) refuse(rules::kind_problem(Due::a_str, given(kind.get())));
        std::size_t index = 0;
        while (index < sig::Signal::kind_names.size() &&
               PyUnicode_CompareWithASCIIString(kind.get(), std::string(sig::Signal::kind_names[index]).c_str()) != 0) {
            ++index;
        }
        if (index == sig::Signal::kind_names.size()) {
            refuse(rules::unknown_signal_kind(utf8(check(PyUnicode_Type.tp_repr(kind.get())))));
        }
        return index;
    }
};

}  // namespace
}  // namespace pyvora

namespace pyvora::methods {

Ref from_dict(PyTypeObject* cls, AnyObject data) {
    DictReader r;
    try {
        protocols::settings::Settings settings;
        protocols::visit(r, settings, data.object);
        return new_protocol(cls, protocols::Protocol{std::move(settings)});
    } catch (const Refusal& refusal) {
        const std::string path = r.path.text();
        raise_decode_error(rules::at_path(refusal.what, path), path, std::nullopt);
    }
}

}  // namespace pyvora::methods
