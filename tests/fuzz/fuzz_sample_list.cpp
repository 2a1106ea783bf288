// libFuzzer target for the JSON sample-list reader: any text on which it disagrees with the
// plain reading (or crashes, or trips a sanitizer) is a finding.
#include <cstdlib>

#include "tests/fuzz/sample_list_law.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::sample_list_law_holds({reinterpret_cast<const char*>(data), size})) std::abort();
    return 0;
}
