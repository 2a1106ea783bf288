// The access state every object carries: any number of shared holders or one exclusive holder.
// A conflicting request fails at once with RuntimeError; it never waits.
#pragma once

#include <atomic>
#include <cstdint>

#include "pyvora/errors.hpp"

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

class SharedAccess {
public:
    explicit SharedAccess(AccessState& state) : state_(state) {
        if (!state_.try_shared()) {
            PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
            throw PythonError{};
        }
    }
    ~SharedAccess() { state_.release_shared(); }
    SharedAccess(const SharedAccess&) = delete;
    SharedAccess& operator=(const SharedAccess&) = delete;

private:
    AccessState& state_;
};

class ExclusiveAccess {
public:
    explicit ExclusiveAccess(AccessState& state) : state_(state) {
        if (!state_.try_exclusive()) {
            PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
            throw PythonError{};
        }
    }
    ~ExclusiveAccess() { state_.release_exclusive(); }
    ExclusiveAccess(const ExclusiveAccess&) = delete;
    ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;

private:
    AccessState& state_;
};

}  // namespace pyvora
