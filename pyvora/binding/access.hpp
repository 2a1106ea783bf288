// The access state every object carries: any number of shared holders or one exclusive holder.
// A conflicting request fails at once with RuntimeError; it never waits.
#pragma once

#include <atomic>
#include <cstdint>

#include "pyvora/binding/errors.hpp"

namespace pyvora {

class AccessState {
public:
    bool try_shared() noexcept {
        std::intptr_t now = flag_.load(std::memory_order_relaxed);
        do {
            if (now < 0) return false;
        } while (!flag_.compare_exchange_weak(now, now + 1, std::memory_order_acquire,
                                              std::memory_order_relaxed));
        return true;
    }
    void release_shared() noexcept { flag_.fetch_sub(1, std::memory_order_release); }

    bool try_exclusive() noexcept {
        std::intptr_t idle = 0;
        return flag_.compare_exchange_strong(idle, EXCLUSIVE, std::memory_order_acquire,
                                             std::memory_order_relaxed);
    }
    void release_exclusive() noexcept { flag_.store(0, std::memory_order_release); }

private:
    static constexpr std::intptr_t EXCLUSIVE = -1;
    std::atomic<std::intptr_t> flag_{0};
};

// Holds the state shared or exclusively for its lifetime; refused, it raises RuntimeError with
// the message of the holding that stands in the way.
template <bool exclusive>
class Access {
public:
    explicit Access(AccessState& state) : state_(state) {
        if (!(exclusive ? state_.try_exclusive() : state_.try_shared())) {
            PyErr_SetString(PyExc_RuntimeError, exclusive ? "Already borrowed" : "Already mutably borrowed");
            throw PythonError{};
        }
    }
    ~Access() {
        if constexpr (exclusive) {
            state_.release_exclusive();
        } else {
            state_.release_shared();
        }
    }
    Access(const Access&) = delete;
    Access& operator=(const Access&) = delete;

private:
    AccessState& state_;
};
using SharedAccess = Access<false>;
using ExclusiveAccess = Access<true>;

}  // namespace pyvora
