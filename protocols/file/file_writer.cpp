#include "protocols/file/file_writer.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "protocols/text/quote.hpp"

namespace protocols::file {

namespace {

// strerror_r comes in two shapes: the GNU one returns the text, the XSI one fills the buffer.
[[maybe_unused]] const char* strerror_text(char* gnu_result, const char*) { return gnu_result; }
[[maybe_unused]] const char* strerror_text(int xsi_result, const char* buffer) {
    return xsi_result == 0 ? buffer : nullptr;
}

}  // namespace

std::string_view errno_kind_name(int code) noexcept {
    switch (code) {
        case 1: case 13: return "PermissionDenied";
        case 2: return "NotFound";
        case 4: return "Interrupted";
        case 7: return "ArgumentListTooLong";
        case 11: return "WouldBlock";
        case 12: return "OutOfMemory";
        case 16: return "ResourceBusy";
        case 17: return "AlreadyExists";
        case 18: return "CrossesDevices";
        case 20: return "NotADirectory";
        case 21: return "IsADirectory";
        case 22: return "InvalidInput";
        case 26: return "ExecutableFileBusy";
        case 27: return "FileTooLarge";
        case 28: return "StorageFull";
        case 29: return "NotSeekable";
        case 30: return "ReadOnlyFilesystem";
        case 31: return "TooManyLinks";
        case 32: return "BrokenPipe";
        case 35: return "Deadlock";
        case 36: return "InvalidFilename";
        case 38: case 95: return "Unsupported";
        case 39: return "DirectoryNotEmpty";
        case 40: return "FilesystemLoop";
        case 98: return "AddrInUse";
        case 99: return "AddrNotAvailable";
        case 100: return "NetworkDown";
        case 101: return "NetworkUnreachable";
        case 103: return "ConnectionAborted";
        case 104: return "ConnectionReset";
        case 107: return "NotConnected";
        case 110: return "TimedOut";
        case 111: return "ConnectionRefused";
        case 113: return "HostUnreachable";
        case 115: return "InProgress";
        case 116: return "StaleNetworkFileHandle";
        case 122: return "QuotaExceeded";
        default: return "Uncategorized";
    }
}

std::string errno_description(int code) {
    char buffer[256] = {};
    // strerror itself may share one buffer between threads; strerror_r does not.
    const char* text = strerror_text(::strerror_r(code, buffer, sizeof buffer), buffer);
    if (text == nullptr) return "Unknown error " + std::to_string(code);
    return text;
}

std::string_view FileError::kind_name() const noexcept {
    switch (source_) {
        case Source::Os: return errno_kind_name(code_);
        case Source::NulInPath: return "InvalidInput";
        case Source::WriteZero: return "WriteZero";
    }
    return "Uncategorized";
}

std::string FileError::render() const {
    switch (source_) {
        case Source::Os: {
            std::string out = "Os { code: ";
            out += std::to_string(code_);
            out += ", kind: ";
            out += kind_name();
            out += ", message: ";
            text::append_quoted(out, errno_description(code_));
            out += " }";
            return out;
        }
        case Source::NulInPath:
            return "Error { kind: InvalidInput, message: \"file name contained an unexpected NUL "
                   "byte\" }";
        case Source::WriteZero:
            return "Error { kind: WriteZero, message: \"failed to write whole buffer\" }";
    }
    return {};
}

std::optional<FileError> write_file(std::string_view path, std::span<const std::uint8_t> bytes,
                                    const FileOps& ops) {
    // The system would stop reading the path at the NUL and open another file.
    if (path.find('\0') != std::string_view::npos) return FileError::nul_in_path();
    const std::string c_path(path);

    const int fd = repeat_interrupted(
        ops, [&] { return ops.open(c_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666); });
    if (fd < 0) return FileError::os(errno);
    UniqueFd file(fd, ops.close);

    // The system may take fewer bytes than asked, and never more than SSIZE_MAX at once.
    constexpr std::size_t max_chunk = SSIZE_MAX;
    const std::uint8_t* next = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n =
            repeat_interrupted(ops, [&] { return ops.write(file.get(), next, std::min(left, max_chunk)); });
        if (n < 0) return FileError::os(errno);
        if (n == 0) return FileError::write_zero();
        next += n;
        left -= static_cast<std::size_t>(n);
        if (left > 0 && ops.short_write != nullptr) ops.short_write();
    }

    // Delayed write errors (full disk on a network file system, quota) may surface only here.
    // An interrupted close is not repeated: the descriptor is released already and may have
    // been reused by then, and no error number 4 is ever reported.
    if (file.close() != 0 && errno != EINTR) return FileError::os(errno);
    return std::nullopt;
}

bool has_protocol_file_name(std::string_view path_utf8) noexcept {
    return path_utf8.ends_with(".vora");
}

}  // namespace protocols::file
