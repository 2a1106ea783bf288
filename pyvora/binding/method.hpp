// What a method of Protocol is: its name, its parameters with the default text of optional
// ones, its docstring and the surface it belongs to. The binding layer (call.hpp) derives the
// text signature, argument binding and conversion from this description and the C++ function.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace pyvora {

// The two surfaces of the module. The contract surface is the described one that scripts and
// stored files rely on: its names, texts, exception types and behaviour stay byte for byte,
// however odd they read, and its methods carry no docstring (their __doc__ is None). The
// convention surface follows Python's habits: real docstrings, and the exceptions Python itself
// would raise (ImportError without NumPy, ValueError for a bad value) rather than a panic.
enum class Surface { contract, convention };

struct Param {
    std::string_view name;
    std::string_view default_text{};  // empty: required
};

struct MethodSpec {
    std::string_view name;
    std::array<Param, 4> params{};
    std::size_t count = 0;
    std::string_view doc{};  // documentation after the signature; none on the contract surface
    Surface surface = Surface::contract;
    bool on_class = false;  // a class method: the receiver is the class itself
    bool on_module = false;  // a function of the module: no receiver, parameters by position only

    constexpr std::size_t required() const {
        std::size_t n = 0;
        while (n < count && params[n].default_text.empty()) ++n;
        return n;
    }
};

// A method of the contract surface.
template <class... P>
constexpr MethodSpec method(std::string_view name, P... params) {
    static_assert(sizeof...(P) <= 4);
    return MethodSpec{name, {Param(params)...}, sizeof...(P)};
}

// The same declaration on the convention surface, with its docstring body.
constexpr MethodSpec documented(MethodSpec decl, std::string_view doc) {
    decl.doc = doc;
    decl.surface = Surface::convention;
    return decl;
}

// The same declaration as a class method.
constexpr MethodSpec on_class(MethodSpec decl) {
    decl.on_class = true;
    return decl;
}

// The same declaration as a function of the module, its parameters positional-only, as the
// command's helpers take them.
constexpr MethodSpec on_module(MethodSpec decl) {
    decl.on_module = true;
    return decl;
}

// "name($self, a, b=default)\n--\n\n" ("name(a, /)" for a function of the module) and the declaration's doc: with no doc, Python reports the
// signature and no other documentation.
std::string docstring(const MethodSpec& decl);

}  // namespace pyvora
