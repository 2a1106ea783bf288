// Quantisation of arbitrary-signal fractions (0.0 to 1.0) to 16-bit samples with 32767 as
// full scale, read straight from the caller's memory in index order.
//
// Up to 9,000,000 samples per call: the result is allocated once at its final size and the
// input is read once, without a copy. Contiguous input goes through in blocks small enough to
// stay in the first-level cache: a branch-free range test over the block, then the rounding
// over the same block, both loops simple enough for the compiler to vectorise with baseline
// SSE2 (a combined loop is not: mixing double comparisons with 16-bit stores defeats GCC's
// vectoriser). Other layouts take a scalar loop that reads by index times stride.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "protocols/error.hpp"
#include "protocols/signals.hpp"

namespace protocols::signals {

inline constexpr double FULL_SCALE = static_cast<double>(config::MAX_SAMPLE);

// `length` float64 values starting at `data`, `stride` bytes apart (negative for a reversed
// view, any alignment). `contiguous` promises stride == 8 and `data` aligned for double.
struct SampleView {
    const char* data = nullptr;
    std::int64_t length = 0;
    std::int64_t stride = sizeof(double);
    bool contiguous = false;
};

// round(x * 32767) with halves away from zero, for 0.0 <= x <= 1.0 only (the conversion is
// undefined for NaN). The product y lies in 0..32767: truncation gives its whole part, and it
// rounds up exactly when y is at least halfway to the next integer. Both sides of that
// comparison are exact, unlike floor(y + 0.5), whose sum rounds 0.49999999999999994 up to 1.0.
// The comparison also keeps the product from being fused into a multiply-add, which would skip
// the rounding of the product that the stored value is defined by.
// The result, 0..32767, is inside the signed 16-bit range, so no clamp is needed.
inline std::int16_t quantise_fraction(double x) noexcept {
    const double y = x * FULL_SCALE;
    const auto whole = static_cast<std::int32_t>(y);
    return static_cast<std::int16_t>(whole + (y >= static_cast<double>(whole) + 0.5));
}

namespace detail {

inline constexpr std::int64_t BLOCK = 1024;  // 8 KiB of input per block

inline double load(const char* data, std::int64_t index, std::int64_t stride) noexcept {
    double x;
    std::memcpy(&x, data + index * stride, sizeof x);  // any alignment
    return x;
}

// Fails for a sample outside 0.0..1.0: "*sample >= 0.0" first, so NaN fails there.
inline void check_sample(double x) {
    require(x >= 0.0, "*sample >= 0.0");
    require(x <= 1.0, "*sample <= 1.0");
}

// A conservative branch-free test: false guarantees that every value lies in 0.0..1.0.
// x * (1 - x) is >= 0 with an exponent below 0x400 exactly for such x; any other value gives a
// negative product (the sign bit) or NaN or infinity (bit 62, the exponent's top bit). -0.0 is
// in range but gives -0.0, so it is reported too; the exact test sorts that out.
inline bool may_leave_range(const double* __restrict in, std::int64_t n) noexcept {
    std::uint64_t seen = 0;
    for (std::int64_t i = 0; i < n; ++i) {
        seen |= std::bit_cast<std::uint64_t>(in[i] * (1.0 - in[i]));
    }
    return (seen & 0xC000'0000'0000'0000u) != 0;
}

// quantise_fraction in the form GCC vectorises: the rounding step is chosen as a double (an
// integer from a double comparison defeats it); as a scalar loop this form would branch.
inline void quantise_block(const double* __restrict in, std::int16_t* __restrict out,
                           std::int64_t n) noexcept {
    for (std::int64_t i = 0; i < n; ++i) {
        const double y = in[i] * FULL_SCALE;
        const double whole = static_cast<double>(static_cast<std::int32_t>(y));
        const double q = whole + (y >= whole + 0.5 ? 1.0 : 0.0);
        out[i] = static_cast<std::int16_t>(static_cast<std::int32_t>(q));
    }
}

// Earlier blocks passed, so the first offender of a block is the first of all.
inline void quantise_checked_block(const double* in, std::int16_t* out, std::int64_t n) {
    if (may_leave_range(in, n)) {
        for (std::int64_t i = 0; i < n; ++i) check_sample(in[i]);
    }
    quantise_block(in, out, n);
}

inline void quantise_contiguous(const double* in, std::int16_t* out, std::int64_t n) {
    std::int64_t start = 0;
    // Full blocks have a constant length, which lets -O2 vectorise them as well.
    for (; n - start >= BLOCK; start += BLOCK) quantise_checked_block(in + start, out + start, BLOCK);
    quantise_checked_block(in + start, out + start, n - start);
}

inline void quantise_strided(const char* data, std::int64_t stride, std::int16_t* out, std::int64_t n) {
    for (std::int64_t i = 0; i < n; ++i) {
        const double x = load(data, i, stride);
        check_sample(x);
        out[i] = quantise_fraction(x);
    }
}

}  // namespace detail

// Checks every sample against 0.0..1.0 and returns them quantised, in index order. The first
// offending sample fails with "assertion failed: *sample >= 0.0" (NaN included) or
// "assertion failed: *sample <= 1.0"; the partly built result is released.
inline Samples quantise(const SampleView& view) {
    Samples samples(static_cast<std::size_t>(std::max<std::int64_t>(view.length, 0)));
    const auto n = static_cast<std::int64_t>(samples.size());
    if (view.contiguous) {
        detail::quantise_contiguous(reinterpret_cast<const double*>(view.data), samples.data(), n);
    } else {
        detail::quantise_strided(view.data, view.stride, samples.data(), n);
    }
    return samples;
}

}  // namespace protocols::signals
