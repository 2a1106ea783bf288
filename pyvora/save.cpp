// Saving a protocol file (placeholder until the encoder lands).
#include "pyvora/methods.hpp"

namespace pyvora::methods {

void save(Settings&, Text) { throw protocols::Failure("save is not available yet"); }

}  // namespace pyvora::methods
