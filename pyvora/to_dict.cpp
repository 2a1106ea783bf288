// to_dict(): the protocol as plain Python data. Like the file encoder and the text renderer, it
// walks each record's `fields` description, so keys follow the declaration order with no
// second list of fields. Every reference is held by a Ref until it is handed to its container,
// so a failure part way releases everything built so far.
#include <concepts>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "protocols/record.hpp"
#include "pyvora/methods.hpp"
#include "pyvora/numpy_api.hpp"

namespace pyvora {
namespace {

namespace sig = protocols::signals;

template <class T>
concept Sequence = !std::same_as<T, std::string> && !std::same_as<T, sig::Samples> &&
                   requires(const T& v) {
                       typename T::value_type;
                       { v.size() } -> std::convertible_to<std::size_t>;
                       v[0];
                   };

template <class>
inline constexpr bool unsupported = false;

template <class T>
Ref python_value(const T& value);

void set_item(PyObject* dict, std::string_view key, Ref value) {
    Ref name = check(PyUnicode_FromStringAndSize(key.data(), static_cast<Py_ssize_t>(key.size())));
    check_status(PyDict_SetItem(dict, name.get(), value.get()));
}

template <protocols::Record R>
void add_fields(PyObject* dict, const R& record) {
    R::fields(record, [&](std::string_view name, const auto& field) {
        set_item(dict, name, python_value(field));
    });
}

template <protocols::Record R>
Ref record_dict(const R& record) {
    Ref dict = check(PyDict_New());
    add_fields(dict.get(), record);
    return dict;
}

// {"kind": <kind name>, then the parameter record's fields}.
Ref signal_dict(const sig::Signal& signal) {
    Ref dict = check(PyDict_New());
    const std::string_view kind = sig::Signal::kind_names[signal.params.index()];
    set_item(dict.get(), "kind",
             check(PyUnicode_FromStringAndSize(kind.data(), static_cast<Py_ssize_t>(kind.size()))));
    std::visit([&](const auto& params) { add_fields(dict.get(), params); }, signal.params);
    return dict;
}

// A new int16 array filled with one copy: no Python object per sample.
Ref sample_array(const sig::Samples& samples) {
    load_numpy(Surface::convention);
    npy_intp length = static_cast<npy_intp>(samples.size());
    Ref array = check(PyArray_SimpleNew(1, &length, NPY_INT16));
    if (!samples.empty()) {
        std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())), samples.data(),
                    samples.size() * sizeof(std::int16_t));
    }
    return array;
}

template <Sequence S>
Ref list_of(const S& items) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(items.size())));
    // Slots not yet filled are null, which the list's deallocation skips.
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), python_value(items[i]).release());
    }
    return list;
}

template <class T>
Ref python_value(const T& value) {
    if constexpr (std::same_as<T, bool>) {
        return Ref::borrow(value ? Py_True : Py_False);
    } else if constexpr (std::same_as<T, std::uint64_t>) {
        return check(PyLong_FromUnsignedLongLong(value));
    } else if constexpr (std::same_as<T, double>) {
        return check(PyFloat_FromDouble(value));
    } else if constexpr (std::same_as<T, std::string>) {
        return check(PyUnicode_DecodeUTF8(value.data(), static_cast<Py_ssize_t>(value.size()), "strict"));
    } else if constexpr (std::same_as<T, sig::Samples>) {
        return sample_array(value);
    } else if constexpr (std::same_as<T, sig::Signal>) {
        return signal_dict(value);
    } else if constexpr (Sequence<T>) {
        return list_of(value);
    } else if constexpr (protocols::Record<T>) {
        return record_dict(value);
    } else {
        static_assert(unsupported<T>, "no Python form for this field type");
        return Ref{};
    }
}

}  // namespace
}  // namespace pyvora

namespace pyvora::methods {

Ref to_dict(const Settings& s) { return record_dict(s); }

}  // namespace pyvora::methods
