// Writing a protocol file: create or truncate, write the whole buffer, close. Failures come back
// as values that render the way the save error messages show them.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "protocols/file/file_ops.hpp"

namespace protocols::file {

// The kind name of an error number (Linux numbering); "Uncategorized" for any number not listed.
std::string_view errno_kind_name(int code) noexcept;

// The C library's description of an error number.
std::string errno_description(int code);

class FileError {
public:
    enum class Source : std::uint8_t {
        Os,         // an error number reported by the system
        NulInPath,  // the path held a NUL byte; the system was not asked
        WriteZero,  // a write reported 0 bytes written
    };

    static FileError os(int code) noexcept { return FileError(Source::Os, code); }
    static FileError nul_in_path() noexcept { return FileError(Source::NulInPath, 0); }
    static FileError write_zero() noexcept { return FileError(Source::WriteZero, 0); }

    Source source() const noexcept { return source_; }
    int code() const noexcept { return code_; }  // the error number; 0 unless Source::Os
    std::string_view kind_name() const noexcept;

    // `Os { code: 2, kind: NotFound, message: "No such file or directory" }`,
    // `Error { kind: InvalidInput, message: "file name contained an unexpected NUL byte" }` or
    // `Error { kind: WriteZero, message: "failed to write whole buffer" }`.
    std::string render() const;

    friend bool operator==(const FileError&, const FileError&) = default;

private:
    FileError(Source source, int code) noexcept : source_(source), code_(code) {}

    Source source_;
    int code_;
};

// Creates or truncates the file at path (mode 0666 before the umask, close-on-exec), writes all
// of bytes and closes it. Interrupted opens and writes are repeated after ops.interrupted, and
// a short write goes on after ops.short_write; an exception either throws comes out of here,
// with the file holding the bytes written so far. A failing close is a failure too: the
// data may not have reached the file. The descriptor is closed on every path.
// Returns nothing on success.
[[nodiscard]] std::optional<FileError> write_file(std::string_view path,
                                                  std::span<const std::uint8_t> bytes,
                                                  const FileOps& ops = posix_file_ops());

// The file-name rule of saving: the UTF-8 bytes end with ".vora" (case-sensitive), which also
// means at least five bytes.
bool has_protocol_file_name(std::string_view path_utf8) noexcept;

// The failed-condition text of that rule, for the caller's assertion message.
inline constexpr const char* protocol_file_name_condition = "filepath.ends_with(\".vora\")";

}  // namespace protocols::file
