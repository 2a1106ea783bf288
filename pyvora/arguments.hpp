// The binding layer every Protocol method goes through. A method is a plain C++ function
//
//     R method(Settings& settings, T1 a, T2 b, std::optional<T3> c);
//
// (or one taking `const protocols::Protocol&`, the wrapper record the text form renders),
// described once by a MethodSpec (its name and parameter names, with the default text of
// optional ones). From those two the layer builds the docstring with its text signature,
// binds positional and keyword arguments, checks the receiver, takes exclusive access
// (shared when the function takes `const Settings&`), converts the arguments in parameter
// order and turns the result into a Python object. Nothing in the protocol changes before the
// method body runs, and access is released on every path.
//
// A method that changes the protocol and returns a value returns it staged (StagedChange): the
// layer builds the Python result before the change is committed, so running out of memory
// there leaves the protocol as it was.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include "protocols/settings.hpp"
#include "pyvora/enums.hpp"
#include "pyvora/errors.hpp"
#include "pyvora/protocol_object.hpp"

namespace pyvora {

struct Param {
    std::string_view name;
    std::string_view default_text{};  // empty: required
};

struct MethodSpec {
    std::string_view name;
    std::array<Param, 4> params{};
    std::size_t count = 0;
    // Documentation after the signature. The original methods have none, and their __doc__
    // stays None; methods added later carry a real docstring.
    std::string_view doc{};
    bool on_class = false;  // a class method: the receiver is the class itself

    constexpr std::size_t required() const {
        std::size_t n = 0;
        while (n < count && params[n].default_text.empty()) ++n;
        return n;
    }
};

template <class... P>
constexpr MethodSpec method(std::string_view name, P... params) {
    static_assert(sizeof...(P) <= 4);
    return MethodSpec{name, {Param(params)...}, sizeof...(P)};
}

// The same declaration with a docstring body.
constexpr MethodSpec documented(MethodSpec decl, std::string_view doc) {
    decl.doc = doc;
    return decl;
}

// The same declaration as a class method.
constexpr MethodSpec on_class(MethodSpec decl) {
    decl.on_class = true;
    return decl;
}

// "name($self, a, b=default)\n--\n\n" and the declaration's doc: with no doc, Python reports the
// signature and no other documentation.
std::string docstring(const MethodSpec& decl);

// The parameter names of one method as interned str objects, made when the module is
// initialised and kept, as the module is, for the life of the process (which allows one
// interpreter only). The interpreter interns the keyword names written in a call too, so
// binding finds those by identity, as Argument Clinic does; any other str is compared by text.
struct ParamNames {
    std::array<PyObject*, 4> names{};
};
template <const MethodSpec& Decl>
inline ParamNames param_names{};

// Makes the names of decl not made yet; throws PythonError (MemoryError) when one cannot be.
void intern_names(const MethodSpec& decl, ParamNames& names);

// Binds a vectorcall's arguments to out[0..count); omitted optional parameters stay null.
void bind_arguments(const MethodSpec& decl, const ParamNames& names, PyObject* const* args,
                    Py_ssize_t nargs, PyObject* kwnames, PyObject** out);
// The same for a tuple and a dict (the constructor).
void bind_arguments(const MethodSpec& decl, const ParamNames& names, PyObject* args, PyObject* kwargs,
                    PyObject** out);

// Argument conversions, one per native parameter type.
struct Text {
    std::string_view utf8;  // borrowed from the str object, valid for the call
};
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

// The bytes of an object with the buffer protocol, read in place and held for the call.
class BufferView {
public:
    explicit BufferView(PyObject* obj);  // throws PythonError when obj has no contiguous buffer
    BufferView(BufferView&& other) noexcept : view_(other.view_) { other.view_.obj = nullptr; }
    BufferView& operator=(BufferView&&) = delete;
    BufferView(const BufferView&) = delete;
    ~BufferView() { PyBuffer_Release(&view_); }

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

// Result conversions.
inline PyObject* to_python(std::uint64_t value) { return check(PyLong_FromUnsignedLongLong(value)).release(); }
inline PyObject* to_python(double value) { return check(PyFloat_FromDouble(value)).release(); }
inline PyObject* to_python(Ref value) { return value.release(); }

// A change made ready by a method: result() is its return value, every allocation the change
// needs is done, and commit() makes the change without failing.
template <class R>
concept StagedChange = requires(R& change) {
    change.result();
    { change.commit() } noexcept;
};

// The receiver, checked to be a Protocol.
ProtocolObject& receiver(PyObject* self);

namespace detail {

template <class F>
struct Traits;
template <class R, class Target, class... Args>
struct Traits<R (*)(Target, Args...)> {
    using Result = R;
    using Receiver = Target;
    using Arguments = std::tuple<Args...>;
    static constexpr std::size_t arity = sizeof...(Args);
    static constexpr bool shared = std::is_const_v<std::remove_reference_t<Target>>;
};

// What a method works on: the Settings value, or the whole Protocol record for a method that
// renders it as the text form does.
template <class Target>
auto& target_of(ProtocolObject& object) {
    if constexpr (std::is_same_v<std::remove_cvref_t<Target>, protocols::Protocol>) {
        return object.value;
    } else {
        return object.value.settings;
    }
}

// The arguments converted to the function's parameter types. Braced initialisation converts
// strictly in parameter order.
template <class Arguments, std::size_t... I>
auto convert_arguments(const MethodSpec& decl, PyObject** bound, std::index_sequence<I...>) {
    return std::tuple<std::tuple_element_t<I, Arguments>...>{
        ConvertArgument<std::tuple_element_t<I, Arguments>>::convert(bound[I], decl.params[I].name)...};
}

template <auto Fn, std::size_t... I>
PyObject* run(ProtocolObject& object, const MethodSpec& decl, PyObject** bound,
              std::index_sequence<I...>) {
    using T = Traits<decltype(Fn)>;
    auto body = [&]() -> PyObject* {
        auto args = convert_arguments<typename T::Arguments>(decl, bound, std::index_sequence<I...>{});
        (void)args;
        auto& target = target_of<typename T::Receiver>(object);
        if constexpr (std::is_void_v<typename T::Result>) {
            Fn(target, std::get<I>(std::move(args))...);
            Py_RETURN_NONE;
        } else if constexpr (StagedChange<typename T::Result>) {
            auto change = Fn(target, std::get<I>(std::move(args))...);
            Ref result = Ref::steal(to_python(change.result()));
            change.commit();
            return result.release();
        } else {
            return to_python(Fn(target, std::get<I>(std::move(args))...));
        }
    };
    if constexpr (T::shared) {
        SharedAccess access(object.access);
        return body();
    } else {
        ExclusiveAccess access(object.access);
        return body();
    }
}

// A class method is handed the class; nothing of an existing protocol is used.
template <auto Fn, std::size_t... I>
PyObject* run_on_class(PyTypeObject* cls, const MethodSpec& decl, PyObject** bound,
                       std::index_sequence<I...>) {
    auto args = convert_arguments<typename Traits<decltype(Fn)>::Arguments>(decl, bound, std::index_sequence<I...>{});
    (void)args;
    return to_python(Fn(cls, std::get<I>(std::move(args))...));
}

template <const MethodSpec& Decl, auto Fn>
PyObject* fastcall(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    using T = Traits<decltype(Fn)>;
    static_assert(T::arity == Decl.count, "the declaration names every parameter of the method");
    return guard([&] {
        std::array<PyObject*, T::arity + 1> bound{};
        const Py_ssize_t given = PyVectorcall_NARGS(nargs);
        if (kwnames == nullptr && given >= static_cast<Py_ssize_t>(Decl.required()) &&
            given <= static_cast<Py_ssize_t>(Decl.count)) {
            std::copy(args, args + given, bound.begin());  // positional arguments only, as many as allowed
        } else {
            bind_arguments(Decl, param_names<Decl>, args, nargs, kwnames, bound.data());
        }
        if constexpr (Decl.on_class) {
            return run_on_class<Fn>(reinterpret_cast<PyTypeObject*>(self), Decl, bound.data(),
                                    std::make_index_sequence<T::arity>{});
        } else {
            return run<Fn>(receiver(self), Decl, bound.data(), std::make_index_sequence<T::arity>{});
        }
    });
}

template <const MethodSpec& Decl, auto Fn>
PyObject* noargs(PyObject* self, PyObject*) {
    static_assert(Traits<decltype(Fn)>::arity == 0 && Decl.count == 0);
    return guard([&] {
        return run<Fn>(receiver(self), Decl, nullptr, std::index_sequence<>{});
    });
}

}  // namespace detail

// The method-table entry of one method, made when the module is initialised, with the
// interned names its calls bind keywords by.
template <const MethodSpec& Decl, auto Fn>
PyMethodDef method_entry() {
    static const std::string doc = docstring(Decl);
    static const std::string name(Decl.name);
    intern_names(Decl, param_names<Decl>);
    if constexpr (Decl.count == 0 && !Decl.on_class) {
        return {name.c_str(), reinterpret_cast<PyCFunction>(detail::noargs<Decl, Fn>), METH_NOARGS,
                doc.c_str()};
    } else {
        return {name.c_str(),
                reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detail::fastcall<Decl, Fn>)),
                METH_FASTCALL | METH_KEYWORDS | (Decl.on_class ? METH_CLASS : 0), doc.c_str()};
    }
}

}  // namespace pyvora
