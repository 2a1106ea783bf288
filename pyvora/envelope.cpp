#include "pyvora/envelope.hpp"

#include <cstdint>
#include <cstring>
#include <span>

#include "protocols/check/envelope.hpp"
#include "pyvora/convert.hpp"
#include "pyvora/errors.hpp"
#include "pyvora/object.hpp"

namespace pyvora {
namespace {

PyObject* largest_step(PyObject*, PyObject* samples) {
    return guard([&]() -> PyObject* {
        const BufferView view(samples);
        const auto bytes = view.bytes();
        if (bytes.size() % sizeof(std::int16_t) != 0 ||
            reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(std::int16_t) != 0) {
            PyErr_SetString(PyExc_ValueError, "expected a buffer of aligned int16 samples");
            return nullptr;
        }
        const std::span<const std::int16_t> values(reinterpret_cast<const std::int16_t*>(bytes.data()),
                                                   bytes.size() / sizeof(std::int16_t));
        const protocols::check::Step step = protocols::check::largest_step(values);
        return Py_BuildValue("(nl)", static_cast<Py_ssize_t>(step.index), static_cast<long>(step.size));
    });
}

}  // namespace

PyMethodDef largest_step_definition = {
    "_largest_step", largest_step, METH_O,
    "_largest_step(samples, /)\n--\n\n"
    "(i, step): the largest difference between neighbouring samples of a contiguous buffer\n"
    "of native int16 samples, and the first i where it occurs (between i and i + 1);\n"
    "(0, 0) for fewer than two. For a lab's rules.",
};

}  // namespace pyvora
