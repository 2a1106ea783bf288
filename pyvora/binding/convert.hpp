// How values cross between Python and C++: one argument conversion per native parameter type
// (FromPython<T>), the argument's name added to a conversion's TypeError (ConvertArgument<T>),
// and the conversions of results (to_python). Integer samples are read in convert_samples.hpp.
#pragma once

#include <cstdint>
#include <iterator>
#include <optional>
#include <span>
#include <string_view>

#include "pyvora/binding/enums.hpp"
#include "pyvora/binding/errors.hpp"

namespace pyvora {

template <class T>
struct FromPython;
template <>
struct FromPython<double> {
    static double convert(PyObject* obj);
};
template <>
struct FromPython<std::uint64_t> {
    static std::uint64_t convert(PyObject* obj);
};
template <>
struct FromPython<bool> {
    static bool convert(PyObject* obj);
};
template <>
struct FromPython<CoilId> {
    static CoilId convert(PyObject* obj);
};
template <>
struct FromPython<ChannelId> {
    static ChannelId convert(PyObject* obj);
};

struct Text {
    std::string_view utf8;  // borrowed from the str object, valid for the call
};
template <>
struct FromPython<Text> {
    static Text convert(PyObject* obj);
};

// A file-system path: a str, bytes or os.PathLike argument, as os.fspath gives it.
struct FsPath {
    Ref path;  // str or bytes
};
template <>
struct FromPython<FsPath> {
    static FsPath convert(PyObject* obj);
};

// An object's buffer, read in place and held for the call, released on every path.
class BufferView {
public:
    // The bytes as one contiguous run; throws PythonError when obj has no such buffer.
    explicit BufferView(PyObject* obj);
    // The buffer in any layout, with its format, shape and strides; throws PythonError when
    // obj exports none.
    static constexpr struct AnyLayout {
    } any_layout{};
    BufferView(PyObject* obj, AnyLayout) { check_status(PyObject_GetBuffer(obj, &view_, PyBUF_RECORDS_RO)); }
    BufferView(BufferView&& other) noexcept : view_(other.view_) { other.view_.obj = nullptr; }
    BufferView& operator=(BufferView&&) = delete;
    BufferView(const BufferView&) = delete;
    ~BufferView() { PyBuffer_Release(&view_); }

    const Py_buffer& view() const noexcept { return view_; }
    std::span<const std::uint8_t> bytes() const noexcept {
        return {static_cast<const std::uint8_t*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

private:
    Py_buffer view_{};
};
template <>
struct FromPython<BufferView> {
    static BufferView convert(PyObject* obj) { return BufferView(obj); }
};

// A one-dimensional ndarray (or subclass) of native-order float64, read in place. NumPy is
// loaded on the first conversion; a failure to load it is a panic (the contract surface).
struct SampleArray {
    const char* data;
    std::int64_t length;
    std::int64_t stride;  // bytes between consecutive samples, may be negative
    bool contiguous;      // aligned and stride == 8
};
template <>
struct FromPython<SampleArray> {
    static SampleArray convert(PyObject* obj);
};

// Any object, borrowed for the call: the method reads it itself.
struct AnyObject {
    PyObject* object;
};
template <>
struct FromPython<AnyObject> {
    static AnyObject convert(PyObject* obj) noexcept { return AnyObject{obj}; }
};

// Re-raises a pending TypeError as "argument '<name>': <message>", keeping its cause;
// any other exception stays as it is.
[[noreturn]] void rethrow_for_argument(std::string_view name);

template <class T>
struct ConvertArgument {
    static T convert(PyObject* obj, std::string_view name) {
        try {
            return FromPython<T>::convert(obj);
        } catch (const PythonError&) {
            rethrow_for_argument(name);
        }
    }
};
template <class T>
struct ConvertArgument<std::optional<T>> {
    static std::optional<T> convert(PyObject* obj, std::string_view name) {
        if (obj == nullptr) return std::nullopt;
        return ConvertArgument<T>::convert(obj, name);
    }
};

// The UTF-8 text of a str, borrowed from it; throws PythonError for a str that has none (a lone
// surrogate).
std::string_view utf8_of(PyObject* str);

// A new str of UTF-8 text; throws PythonError for bytes that are not UTF-8.
inline Ref str_of(std::string_view utf8) {
    return check(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "strict"));
}

// A new list of the items, each converted by convert to a new reference (a Ref). A failure part
// way releases the list with what it holds.
template <class Items, class F>
Ref list_of(const Items& items, F&& convert) {
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(std::size(items))));
    Py_ssize_t i = 0;
    for (const auto& item : items) PyList_SET_ITEM(list.get(), i++, convert(item).release());
    return list;
}

// Result conversions.
inline PyObject* to_python(std::uint64_t value) { return check(PyLong_FromUnsignedLongLong(value)).release(); }
inline PyObject* to_python(double value) { return check(PyFloat_FromDouble(value)).release(); }
inline PyObject* to_python(Ref value) { return value.release(); }

}  // namespace pyvora
