// Arbitrary signals from NumPy arrays (placeholder until the conversion lands).
#include "pyvora/methods.hpp"

namespace pyvora::methods {

}  // namespace pyvora::methods

namespace pyvora {
SampleArray FromPython<SampleArray>::convert(PyObject* obj) { throw_cast_error(obj, "ndarray"); }

}  // namespace pyvora

namespace pyvora::methods {
std::uint64_t add_arbitrary_signal(Settings&, SampleArray) { return 0; }

}  // namespace pyvora::methods
