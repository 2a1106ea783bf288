// The loop of the block ways (avx2, avx512): fixed blocks of Way::width bytes, read one after
// another. Each way's file reads this inside its target region, so the loop is compiled for
// that way's instructions and its block steps are inlined into it; the unnamed namespace gives
// every file a copy of its own, which the linker never swaps for another way's.
//
// It includes nothing: a header first read inside a target region would give its inline
// functions the region's instructions, and those the linker may share. The including file reads
// <cstring> and sample_runs.hpp before its region.
#pragma once

namespace encoding::runs {
namespace {

struct Block {
    std::uint32_t continuation;  // bytes with the continuation bit
    unsigned count;              // varints ended
};

// Way: width; block(q, out), which reads the block at q (q[-2] and q[-1] readable), writes its
// samples to out (width written, the first `count` of them real) and notes its malformed forms
// in `bad` and its negative samples for odd_bit().
template <class Way>
std::size_t read_blocks(const std::uint8_t*& cursor, const std::uint8_t* end, std::int16_t* out, std::size_t n,
                        Findings& found) noexcept {
    constexpr unsigned width = Way::width;
    // Every step writes `width` lanes and may end `width` varints: steps run while that many
    // samples are still wanted, so every varint ended belongs to the run.
    if (n < width || end - cursor < static_cast<std::ptrdiff_t>(width)) return 0;
    Way way;
    // The first block is read from a copy behind two zero bytes: the bytes before the run are
    // not its own (and may not be there), and a zero byte continues nothing.
    std::uint8_t first[2 + width] = {};
    std::memcpy(first + 2, cursor, width);
    Block last = way.block(first + 2, out);
    std::size_t done = last.count;
    const std::uint8_t* q = cursor + width;
    while (n - done >= width && end - q >= static_cast<std::ptrdiff_t>(width)) {
        last = way.block(q, out + done);
        done += last.count;
        q += width;
    }
    cursor = after_last_end<width>(q, last.continuation);
    found.bad |= way.bad;
    found.odd |= way.odd_bit();
    return done;
}

}  // namespace
}  // namespace encoding::runs
