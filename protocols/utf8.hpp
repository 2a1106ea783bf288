// UTF-8 validation (strict: no surrogates, no overlong forms, nothing above U+10FFFF).
#pragma once

#include <cstddef>
#include <string_view>

namespace protocols::utf8 {

bool valid(std::string_view bytes) noexcept;

// Where the first sequence that is not UTF-8 starts; bytes.size() when there is none.
std::size_t invalid_at(std::string_view bytes) noexcept;

}  // namespace protocols::utf8
