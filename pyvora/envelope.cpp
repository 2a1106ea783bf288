#include "pyvora/functions.hpp"

#include <cstdint>
#include <cstring>
#include <span>

#include "protocols/check/envelope.hpp"
#include "pyvora/binding/convert.hpp"
#include "pyvora/binding/errors.hpp"
#include "pyvora/binding/object.hpp"

namespace pyvora::functions {

Ref largest_step(AnyObject samples) {
    const BufferView view(samples.object);
    const auto bytes = view.bytes();
    if (bytes.size() % sizeof(std::int16_t) != 0 ||
        reinterpret_cast<std::uintptr_t>(bytes.data()) % alignof(std::int16_t) != 0) {
        PyErr_SetString(PyExc_ValueError, "expected a buffer of aligned int16 samples");
        throw PythonError{};
    }
    const std::span<const std::int16_t> values(reinterpret_cast<const std::int16_t*>(bytes.data()),
                                               bytes.size() / sizeof(std::int16_t));
    const protocols::check::Step step = protocols::check::largest_step(values);
    return check(Py_BuildValue("(nl)", static_cast<Py_ssize_t>(step.index), static_cast<long>(step.size)));
}

}  // namespace pyvora::functions
