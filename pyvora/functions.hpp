// The module's own functions, helpers of the command, each described as the methods of Protocol
// are (method.hpp) and entered through the same calling layer (call.hpp, function_entry); the
// pickling helpers, described the same way, are beside the __reduce__ that names them
// (protocol/read_back.cpp, binding/enums.cpp).
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

inline constexpr MethodSpec VALUE_TEXT = on_module(documented(method("_value_text", Param{"value"}),
    "The text of a bool, int, float or str as the text form writes it. For the command."));
Ref value_text(AnyObject value);

// pyvora._LIMITS: a new dict of the protocol's limits by name. The command states no limit of
// its own.
Ref limits_dict();

}  // namespace pyvora::functions
