// UTF-8 validation (strict: no surrogates, no overlong forms, nothing above U+10FFFF).
#pragma once

#include <string_view>

namespace protocols::utf8 {

bool valid(std::string_view bytes) noexcept;

}  // namespace protocols::utf8
