// The calling sequence every Protocol method goes through. A method is a plain C++ function
//
//     R method(Settings& settings, T1 a, T2 b, std::optional<T3> c);
//
// (or one taking `const protocols::Protocol&`, the wrapper record the text form renders),
// described once by a MethodSpec (method.hpp). From those two the layer builds the docstring
// with its text signature, binds positional and keyword arguments (bind.hpp), checks the
// receiver, takes exclusive access (shared when the function takes `const Settings&`),
// converts the arguments in parameter order (convert.hpp) and turns the result into a Python
// object. Nothing in the protocol changes before the method body runs, and access is released
// on every path.
//
// A method that changes the protocol and returns a value returns it staged (StagedChange): the
// layer builds the Python result before the change is committed, so running out of memory
// there leaves the protocol as it was.
#pragma once

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>

#include "protocols/settings.hpp"
#include "pyvora/binding/bind.hpp"
#include "pyvora/binding/convert.hpp"
#include "pyvora/binding/method.hpp"
#include "pyvora/binding/protocol_object.hpp"

namespace pyvora {

// A change made ready by a method: result() is its return value, every allocation the change
// needs is done, and commit() makes the change without failing.
template <class R>
concept StagedChange = requires(R& change) {
    change.result();
    { change.commit() } noexcept;
};

// The receiver, checked to be a Protocol.
ProtocolObject& receiver(PyObject* self);

// Every argument a function of the module was given, for one that judges them itself.
using PositionalArguments = std::span<PyObject* const>;

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
        } else if (kwnames == nullptr ||
                   !bind_interned<Decl.count>(param_names<Decl>, Decl.required(), args, given, kwnames,
                                              bound.data())) {
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

namespace detail {

template <class F>
struct FunctionTraits;
template <class R, class... Args>
struct FunctionTraits<R (*)(Args...)> {
    using Arguments = std::tuple<Args...>;
    static constexpr std::size_t arity = sizeof...(Args);
};

template <const MethodSpec& Decl, auto Fn>
PyObject* function_noargs(PyObject*, PyObject*) {
    return guard([&] { return to_python(Fn()); });
}

template <const MethodSpec& Decl, auto Fn>
PyObject* function_one(PyObject*, PyObject* arg) {
    using A = std::tuple_element_t<0, typename FunctionTraits<decltype(Fn)>::Arguments>;
    return guard([&] { return to_python(Fn(ConvertArgument<A>::convert(arg, Decl.params[0].name))); });
}

template <const MethodSpec& Decl, auto Fn>
PyObject* function_positional(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return guard([&] { return to_python(Fn(PositionalArguments(args, static_cast<std::size_t>(nargs)))); });
}

template <auto Fn>
constexpr bool takes_positional_arguments() {
    using Arguments = typename FunctionTraits<decltype(Fn)>::Arguments;
    if constexpr (std::tuple_size_v<Arguments> == 1) {
        return std::is_same_v<std::tuple_element_t<0, Arguments>, PositionalArguments>;
    } else {
        return false;
    }
}

}  // namespace detail

// The table entry of one function of the module, described as the methods are: its name,
// docstring and text signature from the declaration, its argument converted as a method's is.
// A function taking PositionalArguments is handed every argument given by position and judges
// their number and types itself. Kept for the process, as the module that holds the function is.
template <const MethodSpec& Decl, auto Fn>
PyMethodDef& function_entry() {
    static_assert(Decl.on_module && Decl.surface == Surface::convention);
    static_assert(detail::takes_positional_arguments<Fn>() ||
                      (detail::FunctionTraits<decltype(Fn)>::arity == Decl.count && Decl.count <= 1),
                  "a function of the module takes its one argument, or none, by position");
    static const std::string doc = docstring(Decl);
    static const std::string name(Decl.name);
    if constexpr (detail::takes_positional_arguments<Fn>()) {
        static PyMethodDef entry{name.c_str(),
                                 reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(
                                     detail::function_positional<Decl, Fn>)),
                                 METH_FASTCALL, doc.c_str()};
        return entry;
    } else if constexpr (Decl.count == 0) {
        static PyMethodDef entry{name.c_str(), detail::function_noargs<Decl, Fn>, METH_NOARGS, doc.c_str()};
        return entry;
    } else {
        static PyMethodDef entry{name.c_str(), detail::function_one<Decl, Fn>, METH_O, doc.c_str()};
        return entry;
    }
}

// The method-table entry of one method, made when the module is initialised, with the
// interned names its calls bind keywords by.
template <const MethodSpec& Decl, auto Fn>
PyMethodDef method_entry() {
    static_assert(Decl.surface == Surface::convention || Decl.doc.empty(),
                  "a method of the contract surface has no docstring");
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
