// A regular file read in place, from the page cache, instead of being copied into memory of
// its own first.
//
// A mapped file has one hazard a copy has not: when another process shrinks the file while it
// is mapped (a save truncates the file it replaces), touching a page past the new end raises
// SIGBUS, which would end the process. While a reading runs, a SIGBUS handler catches exactly
// that fault, puts zero pages where the file's pages were, lets the reading go on, and the
// reading reports that the file shrank: the caller then throws its result away and reads the
// file again as it is now. Any other SIGBUS meets the program's own disposition (ignored, the
// default action, or its handler, called in place), and the mapping stays guarded until the
// reading ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace protocols::file {

class MappedFile {
public:
    // The first `size` bytes of the open file fd (size > 0), mapped read-only and brought in
    // whole; nothing when the system refuses to map it (the caller then reads it instead).
    static std::optional<MappedFile> map(int fd, std::size_t size) noexcept;

    MappedFile(MappedFile&& other) noexcept;
    MappedFile& operator=(MappedFile&&) = delete;
    MappedFile(const MappedFile&) = delete;
    ~MappedFile();

    std::span<const std::uint8_t> bytes() const noexcept { return {data_, size_}; }

    // Runs read(), which reads bytes(), with the SIGBUS guard in place (one guarded reading at
    // a time in the process; others wait). True when the file kept its bytes throughout; false
    // when it shrank, and what read() did is then of no use (an exception it threw is dropped).
    // Otherwise an exception from read() comes out of here.
    template <class Read>
    bool read_guarded(Read&& read) {
        Guard guard(*this);
        if (guard.shrank()) return false;  // no guard could be put in place
        try {
            read();
        } catch (...) {
            if (guard.shrank()) return false;
            throw;
        }
        return !guard.shrank();
    }

private:
    MappedFile(const std::uint8_t* data, std::size_t size) noexcept : data_(data), size_(size) {}

    // Holds the handler in place over the mapping for as long as it lives.
    class Guard {
    public:
        explicit Guard(const MappedFile& file);
        ~Guard();
        Guard(const Guard&) = delete;
        Guard& operator=(const Guard&) = delete;
        bool shrank() const noexcept;
    };

    const std::uint8_t* data_;
    std::size_t size_;
};

}  // namespace protocols::file
