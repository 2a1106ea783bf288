// Protocol.to_json and Protocol.from_json: the JSON form, written and read by the protocol
// library (protocols/json/); and pyvora._layout, the layout the command checks rules against.
#include <optional>
#include <string>
#include <string_view>

#include "protocols/json/layout.hpp"
#include "protocols/json/reader.hpp"
#include "protocols/json/writer.hpp"
#include "pyvora/binding/describe.hpp"
#include "pyvora/binding/errors.hpp"
#include "pyvora/functions.hpp"
#include "pyvora/protocol/methods.hpp"

namespace pyvora {
namespace {

namespace json = protocols::json;

// Python's repr() of a UTF-8 text, as from_dict writes the keys and strs it refuses.
std::string repr(std::string_view utf8) {
    return pyvora::utf8(check(PyUnicode_Type.tp_repr(str_of(utf8).get())));
}

std::optional<std::size_t> per_line(std::optional<AnyObject> given) {
    if (!given || given->object == Py_None) return std::nullopt;
    if (!PyLong_Check(given->object) || PyBool_Check(given->object)) {
        throw_type_error("samples_per_line must be an int or None, not " + type_name(given->object));
    }
    const unsigned long long n = PyLong_AsUnsignedLongLong(given->object);
    if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_OverflowError)) throw PythonError{};
        PyErr_Clear();
        int sign = 0;
        PyLong_AsLongLongAndOverflow(given->object, &sign);
        if (sign > 0) return SIZE_MAX;  // more than any list holds
        PyErr_SetString(PyExc_ValueError, "samples_per_line must be at least 1");
        throw PythonError{};
    }
    if (n == 0) {
        PyErr_SetString(PyExc_ValueError, "samples_per_line must be at least 1");
        throw PythonError{};
    }
    return static_cast<std::size_t>(n);
}

}  // namespace

namespace functions {

Ref layout() {
    Ref out = check(PyDict_New());
    for (const auto& [path, kind] : json::layout()) {
        check_status(PyDict_SetItemString(out.get(), path.c_str(), str_of(kind).get()));
    }
    return out;
}

}  // namespace functions

namespace methods {

Ref to_json(const Settings& s, std::optional<AnyObject> samples_per_line) {
    const json::SampleLayout layout{per_line(samples_per_line)};
    std::optional<Settings> filled;
    const Settings& source = protocols::settings::as_saved(s, filled);
    const std::size_t size = json::json_size(source, layout);
    Ref bytes = check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    json::write_json(source, PyBytes_AS_STRING(bytes.get()), layout);
    return bytes;
}

Ref from_json(PyTypeObject* cls, AnyObject data) {
    std::optional<BufferView> view;
    Ref encoded;
    std::string_view text;
    if (PyUnicode_Check(data.object)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(data.object, &size);
        if (utf8 == nullptr) {
            // Lone surrogates: kept as they are, to be refused where they stand.
            if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) throw PythonError{};
            PyErr_Clear();
            encoded = check(PyUnicode_AsEncodedString(data.object, "utf-8", "surrogatepass"));
            utf8 = PyBytes_AS_STRING(encoded.get());
            size = PyBytes_GET_SIZE(encoded.get());
        }
        text = {utf8, static_cast<std::size_t>(size)};
    } else {
        view.emplace(data.object);
        const auto bytes = view->bytes();
        text = {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
    }
    try {
        return new_protocol(cls, protocols::Protocol{json::read_json(text, repr)});
    } catch (const json::Refusal& refusal) {
        raise_decode_error(refusal.what(), refusal.path(), refusal.offset());
    }
}

}  // namespace methods
}  // namespace pyvora
