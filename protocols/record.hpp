// What makes a type a described record: a printed name and a `fields` description that names
// each field in declaration order. The file encoder and the text renderer both walk it.
#pragma once

#include <concepts>
#include <string_view>

namespace protocols {

namespace detail {
// Accepts any field; only used to check that a type describes its fields.
struct AnyField {
    template <class V>
    void operator()(std::string_view, V&) const noexcept {}
};
}  // namespace detail

template <class T>
concept Record = requires(const T& r) {
    { T::record_name } -> std::convertible_to<std::string_view>;
    T::fields(r, detail::AnyField{});
};

}  // namespace protocols
