// The JSON Schema of a protocol's JSON form, generated from the records' `fields` descriptions
// by a visitor of their walk, so it cannot fall out of step with what to_dict writes.
#pragma once

#include <string>

namespace protocols::json {

// The schema as a JSON text, ending in a newline.
std::string schema();

}  // namespace protocols::json
