// The walk's descent written once: a visitor derives from Walker<Self> and gets records, lists,
// flags and signals walked through for it, list positions kept on its path when it has one, so
// it writes only the leaves (scalar, text, samples) and the members where it does something of
// its own. A visitor that writes a member of a name the base has brings the base's back with
// `using Walker<Self>::record;` (or list, signal) beside its own.
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "protocols/record.hpp"

namespace protocols {

template <class Self>
class Walker {
public:
    // A record: its fields in declaration order.
    template <class R, class... A>
        requires Record<std::remove_const_t<R>>
    void record(R& record, A&&... args) {
        walk(self(), record, std::forward<A>(args)...);
    }

    // A signal: its kind, then its parameters' fields beside it.
    template <class S, class... A>
        requires SignalVariant<std::remove_const_t<S>>
    void signal(S& signal, A&&... args) {
        walk_signal(self(), signal, std::forward<A>(args)...);
    }

    // A list, or flags: each element in turn, its position on the path.
    template <class L, class... A>
        requires List<std::remove_const_t<L>> || Flags<std::remove_const_t<L>>
    void list(L& items, A&&... args) {
        each(self(), items, [&](auto& item, std::size_t) { protocols::visit(self(), item, args...); });
    }

private:
    Self& self() noexcept { return static_cast<Self&>(*this); }
};

}  // namespace protocols
