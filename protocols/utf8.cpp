#include "protocols/utf8.hpp"

#include <cstdint>
#include <cstring>

namespace protocols::utf8 {

bool valid(std::string_view bytes) noexcept { return invalid_at(bytes) == bytes.size(); }

std::size_t invalid_at(std::string_view bytes) noexcept {
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* p = begin;
    const auto* end = p + bytes.size();
    while (p < end) {
        // Eight ASCII bytes at a time: most texts are mostly ASCII.
        std::uint64_t block;
        if (end - p >= 8 && (std::memcpy(&block, p, 8), (block & 0x8080808080808080ULL) == 0)) {
            p += 8;
            continue;
        }
        const unsigned char c = *p;
        if (c < 0x80) { ++p; continue; }
        std::size_t len;
        std::uint32_t cp;
        if (c >= 0xC2 && c <= 0xDF) { len = 2; cp = c & 0x1F; }
        else if (c >= 0xE0 && c <= 0xEF) { len = 3; cp = c & 0x0F; }
        else if (c >= 0xF0 && c <= 0xF4) { len = 4; cp = c & 0x07; }
        else return static_cast<std::size_t>(p - begin);
        if (static_cast<std::size_t>(end - p) < len) return static_cast<std::size_t>(p - begin);
        for (std::size_t i = 1; i < len; ++i) {
            if ((p[i] & 0xC0) != 0x80) return static_cast<std::size_t>(p - begin);
            cp = (cp << 6) | (p[i] & 0x3F);
        }
        if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))) {
            return static_cast<std::size_t>(p - begin);
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) return static_cast<std::size_t>(p - begin);
        p += len;
    }
    return bytes.size();
}

}  // namespace protocols::utf8
