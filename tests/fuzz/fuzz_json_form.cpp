// libFuzzer target for the JSON reader: any text that breaks its laws (json_form_law.hpp), or
// crashes it, or trips a sanitizer, is a finding.
#include <cstdlib>

#include "tests/fuzz/json_form_law.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::json_form_law_holds({reinterpret_cast<const char*>(data), size})) std::abort();
    return 0;
}
