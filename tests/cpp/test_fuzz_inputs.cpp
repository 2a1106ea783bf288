// The fuzzer's seeds and kept findings, replayed on every test run: each must keep the
// round-trip law, and the seeds (files the module wrote) must decode.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tests/fuzz/json_form_law.hpp"
#include "tests/fuzz/round_trip_law.hpp"

namespace {

std::vector<std::uint8_t> read(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void replay(const char* folder, bool must_decode) {
    const std::filesystem::path dir = std::filesystem::path(PYVORA_SOURCE_DIR) / "tests/fuzz" / folder;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (!entry.is_regular_file() || entry.path().filename().string().starts_with(".")) continue;
        ++files;
        SCOPED_TRACE(entry.path().string());
        bool decoded = false;
        EXPECT_TRUE(fuzz::round_trip_law_holds(read(entry.path()), &decoded));
        if (must_decode) {
            EXPECT_TRUE(decoded);
        }
    }
    EXPECT_GT(files, 0u);
}

TEST(FuzzInputs, SeedsDecodeAndRoundTrip) { replay("corpus", true); }
TEST(FuzzInputs, KeptFindingsKeepTheLaw) { replay("findings", false); }

TEST(FuzzInputs, JsonSeedsKeepTheReadersLaws) {
    const std::filesystem::path dir = std::filesystem::path(PYVORA_SOURCE_DIR) / "tests/fuzz/json_forms";
    std::size_t accepted = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        SCOPED_TRACE(entry.path().string());
        const std::vector<std::uint8_t> bytes = read(entry.path());
        const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        EXPECT_TRUE(fuzz::json_form_law_holds(text));
        accepted += fuzz::json_outcome(text).starts_with("accepted");
    }
    EXPECT_EQ(accepted, 3u);  // all but refused.json
}

}  // namespace
