// An owning handle for one Python reference. Stealing and borrowing are explicit, so every
// reference the extension holds is released on every path, failures included.
#pragma once

#include <utility>

#include "pyvora/binding/python.hpp"

namespace pyvora {

class Ref {
public:
    Ref() noexcept = default;
    // Takes over a new reference (may be null).
    static Ref steal(PyObject* p) noexcept { return Ref(p); }
    // Adds a reference to a borrowed one.
    static Ref borrow(PyObject* p) noexcept {
        Py_XINCREF(p);
        return Ref(p);
    }

    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    Ref& operator=(Ref&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(p_, std::exchange(other.p_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    ~Ref() { Py_XDECREF(p_); }

    PyObject* get() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    // Hands the reference over to the caller.
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(p_, nullptr); }

private:
    explicit Ref(PyObject* p) noexcept : p_(p) {}
    PyObject* p_ = nullptr;
};

// A function of the module, bound to its name, created once into `slot` and kept there for the
// life of the process; null with the exception set when it cannot be made.
inline PyObject* module_function(PyObject*& slot, PyMethodDef& definition, PyObject* module) {
    if (slot == nullptr) {
        Ref name = Ref::steal(PyModule_GetNameObject(module));
        if (!name) return nullptr;
        slot = PyCFunction_NewEx(&definition, nullptr, name.get());
    }
    return slot;
}

}  // namespace pyvora
