#include "protocols/file/file_ops.hpp"

#include <fcntl.h>
#include <unistd.h>

namespace protocols::file {
namespace {

int posix_open(const char* path, int flags, mode_t mode) { return ::open(path, flags, mode); }
ssize_t posix_write(int fd, const void* data, std::size_t size) { return ::write(fd, data, size); }
int posix_close(int fd) { return ::close(fd); }

constexpr FileOps posix_ops{posix_open, posix_write, posix_close};

}  // namespace

const FileOps& posix_file_ops() noexcept { return posix_ops; }

}  // namespace protocols::file
