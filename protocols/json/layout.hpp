// The layout of a protocol's data, listed by a visitor of the walk over default values: each
// field's path, with `[*]` for any list position, and its kind. The command checks a lab's
// rules against it; the JSON reader takes its depth as the deepest nesting a form may have.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace protocols::json {

// (path, kind) in field order, the whole protocol first as ("", "record"); kinds are "number",
// "text", "flag", "samples", "list" and "record". A field of several signal kinds is listed once.
const std::vector<std::pair<std::string, std::string>>& layout();

// The deepest nesting of objects and lists in a protocol's form.
std::size_t layout_depth();

}  // namespace protocols::json
