// The system calls behind protocol files, and the rule for calls a signal interrupts. The
// writer goes through them, and so must any reader: tests stand in for the system through
// them, and the extension runs its signal handlers through them.
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <utility>

namespace protocols::file {

// POSIX convention: -1 and errno on failure.
struct FileOps {
    int (*open)(const char* path, int flags, mode_t mode);
    ssize_t (*write)(int fd, const void* data, std::size_t size);
    int (*close)(int fd);
    // Runs when a call failed with EINTR, before it is repeated. It may throw to abandon the
    // operation; descriptors held in UniqueFd are then closed on the way out. Null: repeat.
    void (*interrupted)() = nullptr;
    // Runs after a write that took only part of what it was given, before the rest is written:
    // a signal that comes once some bytes went through cuts the write short instead of failing
    // it with EINTR. It may throw to abandon the operation, as interrupted may. Null: go on.
    void (*short_write)() = nullptr;
};

// The real system calls, repeated at once when interrupted.
const FileOps& posix_file_ops() noexcept;

// Makes call() until it does not fail with EINTR, running ops.interrupted before each repeat.
// call returns a negative value with errno set on failure; its last result is returned, with
// errno as it left it. Not for close: an interrupted close has released the descriptor.
template <class Call>
auto repeat_interrupted(const FileOps& ops, Call&& call) {
    for (;;) {
        const auto result = call();
        if (result >= 0 || errno != EINTR) return result;
        if (ops.interrupted != nullptr) ops.interrupted();
    }
}

// Owns an open descriptor; closes it on every path that does not close it explicitly.
class UniqueFd {
public:
    UniqueFd(int fd, int (*close)(int)) noexcept : fd_(fd), close_(close) {}
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd() {
        if (fd_ >= 0) (void)close_(fd_);  // an earlier failure is already being reported
    }

    int get() const noexcept { return fd_; }

    // Closes now and gives the result of close, with errno set by it.
    int close() noexcept { return close_(std::exchange(fd_, -1)); }

private:
    int fd_;
    int (*close_)(int);
};

}  // namespace protocols::file
