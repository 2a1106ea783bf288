#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "protocols/file/mapped_file.hpp"

namespace {

using protocols::file::MappedFile;

// A temporary file of `size` patterned bytes, open for reading and writing; removed at the end.
class TempFile {
public:
    explicit TempFile(std::size_t size) {
        std::string name = (std::filesystem::temp_directory_path() / "mapped-XXXXXX").string();
        fd_ = mkstemp(name.data());
        path_ = name;
        for (std::size_t i = 0; i < size; ++i) bytes_.push_back(static_cast<std::uint8_t>(i * 7 + 1));
        EXPECT_EQ(write(fd_, bytes_.data(), size), static_cast<ssize_t>(size));
    }
    ~TempFile() {
        close(fd_);
        std::filesystem::remove(path_);
    }
    int fd() const { return fd_; }
    const std::vector<std::uint8_t>& bytes() const { return bytes_; }

private:
    int fd_;
    std::string path_;
    std::vector<std::uint8_t> bytes_;
};

void marking_handler(int) {}

TEST(MappedFile, ReadsTheFileInPlace) {
    const TempFile file(3 * 4096 + 17);
    auto mapped = MappedFile::map(file.fd(), file.bytes().size());
    ASSERT_TRUE(mapped);
    std::vector<std::uint8_t> seen;
    EXPECT_TRUE(mapped->read_guarded([&] { seen.assign(mapped->bytes().begin(), mapped->bytes().end()); }));
    EXPECT_EQ(seen, file.bytes());
    EXPECT_FALSE(MappedFile::map(file.fd(), 0));
}

// Another process truncating the file looks the same to the mapping as this one doing it.
TEST(MappedFile, AFileShrunkWhileReadIsReportedInsteadOfEndingTheProcess) {
    struct sigaction marking {}, before {}, after {};
    marking.sa_handler = marking_handler;
    ASSERT_EQ(sigaction(SIGBUS, &marking, &before), 0);
    const TempFile file(16 * 4096);
    for (const bool throws : {false, true}) {
        ASSERT_EQ(ftruncate(file.fd(), 16 * 4096), 0);
        auto mapped = MappedFile::map(file.fd(), 16 * 4096);
        ASSERT_TRUE(mapped);
        unsigned sum = 0;
        EXPECT_FALSE(mapped->read_guarded([&] {
            ASSERT_EQ(ftruncate(file.fd(), 4096 + 5), 0);
            for (const std::uint8_t b : mapped->bytes()) sum += b;
            if (throws) throw std::runtime_error("dropped");
        }));
        EXPECT_NE(sum, 0u);  // the first page was still there
    }
    // The handler that was there before is back; an exception comes out when the file stays whole.
    ASSERT_EQ(sigaction(SIGBUS, &before, &after), 0);
    EXPECT_EQ(after.sa_handler, marking_handler);
    auto mapped = MappedFile::map(file.fd(), 4096);
    EXPECT_THROW(mapped->read_guarded([] { throw std::runtime_error("kept"); }), std::runtime_error);
}

volatile sig_atomic_t program_calls = 0;
void counting_handler(int) { program_calls = program_calls + 1; }
void counting_info_handler(int, siginfo_t* info, void*) {
    if (info->si_code == SI_TKILL) program_calls = program_calls + 1;
}

// In a child of its own (a fault nobody catches ends it; alarm ends one that would loop): the
// program's SIGBUS disposition set, a SIGBUS sent while the mapping is read, then the file
// shrinks under the reading. Exit status 0 when the shrinking was still caught and the program's
// handler ran `calls` times.
[[noreturn]] void send_then_shrink(void (*handler)(int), int flags, int calls) {
    alarm(10);
    struct sigaction program {};
    program.sa_handler = handler;
    program.sa_flags = flags;
    if (flags & SA_SIGINFO) program.sa_sigaction = counting_info_handler;
    sigaction(SIGBUS, &program, nullptr);
    bool caught = false;
    unsigned sum = 0;
    {
        const TempFile file(16 * 4096);
        auto mapped = MappedFile::map(file.fd(), 16 * 4096);
        caught = mapped && !mapped->read_guarded([&] {
            raise(SIGBUS);
            if (ftruncate(file.fd(), 4096 + 5) != 0) return;
            for (const std::uint8_t b : mapped->bytes()) sum += b;
        });
    }
    std::_Exit(caught && sum != 0 && program_calls == calls ? 0 : 1);
}

TEST(MappedFileDeathTest, ASignalSentWhileReadingMeetsTheProgramsDispositionAndTheGuardStays) {
    EXPECT_EXIT(send_then_shrink(SIG_IGN, 0, 0), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(send_then_shrink(counting_handler, 0, 1), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(send_then_shrink(nullptr, SA_SIGINFO, 1), testing::ExitedWithCode(0), "");
    EXPECT_EXIT(send_then_shrink(SIG_DFL, 0, 0), testing::KilledBySignal(SIGBUS), "");
}

}  // namespace
