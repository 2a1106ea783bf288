// What makes a type a described record: a printed name and a `fields` description that names
// each field in declaration order. Every field is of one of a few kinds, named here once, and
// one walk hands each field to a visitor by its kind: the file encoder and decoder, the text
// form, the dict form and the JSON form both ways, the checker, the JSON Schema and the layout
// listing are such visitors.
#pragma once

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/field_path.hpp"
#include "protocols/signals.hpp"

namespace protocols {

namespace detail {
// Accepts any field; only used to check that a type describes its fields.
struct AnyField {
    template <class V>
    void operator()(std::string_view, V&) const noexcept {}
};

template <class T>
inline constexpr bool is_vector = false;
template <class T, class A>
inline constexpr bool is_vector<std::vector<T, A>> = true;
template <class T>
inline constexpr bool is_flags = false;
template <std::size_t N>
inline constexpr bool is_flags<std::array<bool, N>> = true;
template <class T, class V>
inline constexpr bool is_alternative = false;
template <class T, class... A>
inline constexpr bool is_alternative<T, std::variant<A...>> = (std::same_as<T, A> || ...);
template <class>
inline constexpr bool unsupported = false;
}  // namespace detail

template <class T>
concept Record = requires(const T& r) {
    { T::record_name } -> std::convertible_to<std::string_view>;
    T::fields(r, detail::AnyField{});
};

// ---- The kinds of field.

// One number or truth value: written whole, no count.
template <class T>
concept Scalar = std::same_as<T, bool> || std::same_as<T, std::uint64_t> || std::same_as<T, double>;
// UTF-8 text.
template <class T>
concept Text = std::same_as<T, std::string>;
// A fixed number of flags: no count in the file, exactly that many in a dict.
template <class T>
concept Flags = detail::is_flags<T>;
// An arbitrary signal's samples, read and written in one pass.
template <class T>
concept SampleList = std::same_as<T, signals::Samples>;
// A counted list of records, signals or scalars.
template <class T>
concept List = detail::is_vector<T> && !SampleList<T>;
// One of the signal kinds: its `kind`, then the parameters' fields beside it.
template <class T>
concept SignalVariant = std::same_as<T, signals::Signal>;
// The parameter record of one signal kind.
template <class T>
concept SignalParams = detail::is_alternative<T, signals::Signal::Params>;

// The name of the field that holds a signal's kind in the flat forms.
inline constexpr std::string_view kind_field = "kind";

inline std::string_view kind_name(const signals::Signal& signal) {
    return signals::Signal::kind_names[signal.params.index()];
}

// ---- The walk. A visitor has one member per kind: scalar, text, flags (taken as a list when
// it has none), samples, list, signal and record, each called with the value and whatever
// the visitor passes along. A visitor with a `path` member has it kept by the walk: pushed and
// popped by hand, not by a scope, so that it still names the failing field once a refusal has
// been thrown out of the walk.

template <class V>
concept KeepsPath = requires(V& v) {
    { v.path } -> std::convertible_to<FieldPath&>;
};

// The value handed to the visitor's member for its kind.
template <class V, class T, class... A>
decltype(auto) visit(V& v, T& value, A&&... args) {
    using U = std::remove_const_t<T>;
    if constexpr (Scalar<U>) {
        return v.scalar(value, std::forward<A>(args)...);
    } else if constexpr (Text<U>) {
        return v.text(value, std::forward<A>(args)...);
    } else if constexpr (Flags<U>) {
        if constexpr (requires { v.flags(value, std::forward<A>(args)...); }) {
            return v.flags(value, std::forward<A>(args)...);
        } else {
            return v.list(value, std::forward<A>(args)...);
        }
    } else if constexpr (SampleList<U>) {
        return v.samples(value, std::forward<A>(args)...);
    } else if constexpr (List<U>) {
        return v.list(value, std::forward<A>(args)...);
    } else if constexpr (SignalVariant<U>) {
        return v.signal(value, std::forward<A>(args)...);
    } else if constexpr (Record<U>) {
        return v.record(value, std::forward<A>(args)...);
    } else {
        static_assert(detail::unsupported<U>, "this field type is of no kind a protocol has");
    }
}

// Runs f with `segment` (a field name or a list position) on the visitor's path.
template <class V, class S, class F>
void at(V& v, S segment, F&& f) {
    if constexpr (KeepsPath<V>) v.path.push(segment);
    f();
    if constexpr (KeepsPath<V>) v.path.pop();
}

namespace detail {
template <class V, class R, class T, class... A>
void field(V& v, R& record, std::string_view name, T& member, A&... args) {
    if constexpr (KeepsPath<V>) v.path.push(name);
    if constexpr (requires { v.field(record, name, member, args...); }) {
        v.field(record, name, member, args...);
    } else {
        protocols::visit(v, member, args...);
    }
    if constexpr (KeepsPath<V>) v.path.pop();
}

template <class V, class S, class... A>
std::size_t kind(V& v, S& signal, A&... args) {
    if constexpr (KeepsPath<V>) v.path.push(kind_field);
    std::size_t index = 0;
    if constexpr (std::is_const_v<S>) {
        v.kind(signal, args...);
    } else {
        index = v.kind(signal, args...);
    }
    if constexpr (KeepsPath<V>) v.path.pop();
    return index;
}
}  // namespace detail

// Each field of a record in declaration order: the visitor's field(record, name, member, ...)
// when it has one, its member for the field's kind otherwise. A visitor's open(record, ...)
// runs first when it has one.
template <class V, class R, class... A>
void walk(V& v, R& record, A&&... args) {
    if constexpr (requires { v.open(record, args...); }) v.open(record, args...);
    const auto extra = std::tie(args...);
    std::remove_const_t<R>::fields(record, [&](std::string_view name, auto& member) {
        std::apply([&](auto&... a) { detail::field(v, record, name, member, a...); }, extra);
    });
}

// Each element of a list or of flags through f(element, position), its position on the path.
template <class V, class L, class F>
void each(V& v, L& items, F&& f) {
    for (std::size_t i = 0; i < items.size(); ++i) at(v, i, [&] { f(items[i], i); });
}

// A signal in its flat form: the visitor's kind(signal, ...) under `kind`, then the parameter
// record's fields right beside it. Writing, kind() writes the signal's kind, and a signal
// left without a value throws before it is called; reading, kind() returns the position of
// the kind it read, and the signal takes that kind's parameters before they are read.
template <class V, class S, class... A>
void walk_signal(V& v, S& signal, A&&... args) {
    using Params = signals::Signal::Params;
    const auto extra = std::tie(args...);
    if constexpr (std::is_const_v<S>) {
        std::visit(
            [&](const auto& params) {
                std::apply([&](auto&... a) {
                    detail::kind(v, signal, a...);
                    walk(v, params, a...);
                }, extra);
            },
            signal.params);
    } else {
        const std::size_t index = detail::kind(v, signal, args...);
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            (void)((index == I ? (std::apply([&](auto&... a) { walk(v, signal.params.template emplace<I>(), a...); },
                                             extra),
                                  true)
                               : false) ||
                   ...);
        }(std::make_index_sequence<std::variant_size_v<Params>>{});
    }
}

}  // namespace protocols
