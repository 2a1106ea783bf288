// The module's own functions, helpers of the command, each described as the methods of Protocol
// are (method.hpp) and entered through the same calling layer (call.hpp, function_entry). The
// helpers still given as a PyMethodDef of their own (_value_text) and the
// pickling helpers bound to the module (_protocol_from_bytes, _enum_member) are yet to move.
#pragma once

#include "pyvora/binding/convert.hpp"
#include "pyvora/binding/method.hpp"
#include "pyvora/binding/object.hpp"

namespace pyvora::functions {

inline constexpr MethodSpec JSON_SCHEMA = on_module(documented(method("_json_schema"),
    "The JSON Schema of the JSON form of a protocol, as a str. For the command's shipped schema."));
Ref json_schema();

inline constexpr MethodSpec LARGEST_STEP = on_module(documented(method("_largest_step", Param{"samples"}), R"((i, step): the largest difference between neighbouring samples of a contiguous buffer
of native int16 samples, and the first i where it occurs (between i and i + 1);
(0, 0) for fewer than two. For a lab's rules.)"));
Ref largest_step(AnyObject samples);

inline constexpr MethodSpec LAYOUT = on_module(documented(method("_layout"), R"(The layout of a protocol: {path: kind} in field order, with [*] for any list position
and kinds 'number', 'text', 'flag', 'samples', 'list' and 'record'. For the command's rules.)"));
Ref layout();

}  // namespace pyvora::functions
