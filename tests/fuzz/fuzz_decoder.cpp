// libFuzzer target for the protocol file decoder: any input that breaks the round-trip law
// (or crashes, or trips a sanitizer) is a finding.
#include <cstdlib>

#include "tests/fuzz/round_trip_law.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!fuzz::round_trip_law_holds({data, size})) std::abort();
    return 0;
}
