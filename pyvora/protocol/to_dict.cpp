// to_dict(): the protocol as plain Python data. Like the file encoder and the text renderer, it
// is a visitor of the walk of records, so keys follow the declaration order with no second
// list of fields. Every reference is held by a Ref until it is handed to its container,
// so a failure part way releases everything built so far.
#include <concepts>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

#include "protocols/record.hpp"
#include "pyvora/protocol/methods.hpp"
#include "pyvora/binding/numpy_api.hpp"

namespace pyvora {
namespace {

namespace sig = protocols::signals;

void set_item(PyObject* dict, std::string_view key, Ref value) {
    check_status(PyDict_SetItem(dict, str_of(key).get(), value.get()));
}

// A visitor of the walk (protocols/record.hpp): each kind's Python value.
struct DictWriter {
    Ref scalar(bool value) { return Ref::borrow(value ? Py_True : Py_False); }
    Ref scalar(std::uint64_t value) { return check(PyLong_FromUnsignedLongLong(value)); }
    Ref scalar(double value) { return check(PyFloat_FromDouble(value)); }
    Ref text(const std::string& value) { return str_of(value); }

    bool numpy = true;  // sample lists as NumPy arrays; otherwise as int16 memoryviews

    // A new int16 array filled with one copy: no Python object per sample.
    Ref samples(const sig::Samples& samples) {
        if (!numpy) return sample_view(samples);
        load_numpy(Surface::convention);
        npy_intp length = static_cast<npy_intp>(samples.size());
        Ref array = check(PyArray_SimpleNew(1, &length, NPY_INT16));
        if (!samples.empty()) {
            std::memcpy(PyArray_DATA(reinterpret_cast<PyArrayObject*>(array.get())), samples.data(),
                        samples.size() * sizeof(std::int16_t));
        }
        return array;
    }

    // A memoryview of format 'h' over new bytes holding one copy: no NumPy needed.
    static Ref sample_view(const sig::Samples& samples) {
        Ref bytes = check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(samples.data()),
                                                    static_cast<Py_ssize_t>(samples.size() * sizeof(std::int16_t))));
        Ref view = check(PyMemoryView_FromObject(bytes.get()));
        return check(PyObject_CallMethod(view.get(), "cast", "s", "h"));
    }

    template <class L>
    Ref list(const L& items) {
        return list_of(items, [this](const auto& item) { return protocols::visit(*this, item); });
    }

    template <protocols::Record R>
    Ref record(const R& record) {
        Ref dict = check(PyDict_New());
        protocols::walk(*this, record, dict.get());
        return dict;
    }
    template <class R, class T>
    void field(const R&, std::string_view name, const T& member, PyObject* dict) {
        set_item(dict, name, protocols::visit(*this, member));
    }

    // {"kind": <kind name>, then the parameter record's fields}.
    Ref signal(const sig::Signal& signal) {
        Ref dict = check(PyDict_New());
        protocols::walk_signal(*this, signal, dict.get());
        return dict;
    }
    void kind(const sig::Signal& signal, PyObject* dict) {
        const std::string_view kind = protocols::kind_name(signal);
        set_item(dict, protocols::kind_field, str_of(kind));
    }
};

}  // namespace
}  // namespace pyvora

namespace pyvora::methods {

Ref to_dict(const Settings& s) {
    DictWriter writer;
    return writer.record(s);
}

Ref to_dict_buffers(const Settings& s) {
    DictWriter writer;
    writer.numpy = false;
    return writer.record(s);
}

}  // namespace pyvora::methods
