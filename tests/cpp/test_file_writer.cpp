#include "protocols/file/file_writer.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using protocols::file::FileError;
using protocols::file::FileOps;
using protocols::file::write_file;

class TempDir {
public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "vora-file-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    fs::path operator/(const char* name) const { return path_ / name; }
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

std::vector<std::uint8_t> read_all(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::uint8_t> pattern_bytes(std::size_t n) {
    std::vector<std::uint8_t> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = static_cast<std::uint8_t>(i * 31 + 7);
    return v;
}

std::string rendered(const std::optional<FileError>& e) {
    return e ? e->render() : std::string("success");
}

TEST(FileWriter, WritesExactlyTheBytesWithCreationMode) {
    TempDir dir;
    const auto bytes = pattern_bytes(1000);
    const auto path = dir / "out.vora";
    ASSERT_EQ(rendered(write_file(path.string(), bytes)), "success");
    EXPECT_EQ(read_all(path), bytes);

    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
}

TEST(FileWriter, OverwritingALongerFileLeavesExactLength) {
    TempDir dir;
    const auto path = dir / "out.vora";
    ASSERT_FALSE(write_file(path.string(), pattern_bytes(5000)).has_value());
    const auto shorter = pattern_bytes(201);
    ASSERT_FALSE(write_file(path.string(), shorter).has_value());
    EXPECT_EQ(fs::file_size(path), 201u);
    EXPECT_EQ(read_all(path), shorter);
}

TEST(FileWriter, EmptyBufferGivesEmptyFile) {
    TempDir dir;
    const auto path = dir / "empty.vora";
    ASSERT_FALSE(write_file(path.string(), {}).has_value());
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(FileWriter, SystemFailuresRenderWithErrorNumberKindAndDescription) {
    TempDir dir;
    const auto bytes = pattern_bytes(10);
    struct Case {
        std::string path;
        const char* expected;
    };
    std::vector<Case> cases = {
        {(dir / "missing" / "x.vora").string(),
         R"(Os { code: 2, kind: NotFound, message: "No such file or directory" })"},
        {dir.path().string(), R"(Os { code: 21, kind: IsADirectory, message: "Is a directory" })"},
    };
    if (fs::exists("/dev/full")) {
        cases.push_back({"/dev/full",
                         R"(Os { code: 28, kind: StorageFull, message: "No space left on device" })"});
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(rendered(write_file(c.path, bytes)), c.expected);
    }
    EXPECT_FALSE(fs::exists(dir / "missing"));  // no directory is created
}

TEST(FileWriter, NulInPathIsRefusedBeforeTheSystemIsAsked) {
    TempDir dir;
    const std::string path = (dir / "a").string() + std::string("\0b.vora", 7);
    EXPECT_EQ(rendered(write_file(path, pattern_bytes(3))),
              R"(Error { kind: InvalidInput, message: "file name contained an unexpected NUL byte" })");
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

// A stand-in for the system: counts calls, injects failures, and otherwise does the real work.
struct Fake {
    int open_eintr = 0;        // opens to interrupt before the real one
    int write_eintr = 0;       // writes to interrupt
    std::size_t max_write = 0;  // 0: no limit; otherwise take at most this many bytes per write
    bool write_zero = false;
    int write_errno = 0;
    int close_errno = 0;  // reported after the real close
    int abandon_at = 0;   // the interruption whose hook throws Abandoned; 0: none throws
    int opens = 0, writes = 0, closes = 0, interruptions = 0;
    int open_flags = 0;
    mode_t open_mode = 0;
    int abandon_at_short_write = 0;  // the short write whose hook throws Abandoned; 0: none
    int short_writes = 0;
};
Fake fake;
struct Abandoned {};

const FileOps fake_ops{
    [](const char* path, int flags, mode_t mode) -> int {
        ++fake.opens;
        fake.open_flags = flags;
        fake.open_mode = mode;
        if (fake.open_eintr > 0) {
            --fake.open_eintr;
            errno = EINTR;
            return -1;
        }
        return ::open(path, flags, mode);
    },
    [](int fd, const void* data, std::size_t size) -> ssize_t {
        ++fake.writes;
        if (fake.write_eintr > 0) {
            --fake.write_eintr;
            errno = EINTR;
            return -1;
        }
        if (fake.write_zero) return 0;
        if (fake.write_errno != 0) {
            errno = fake.write_errno;
            return -1;
        }
        if (fake.max_write != 0 && size > fake.max_write) size = fake.max_write;
        return ::write(fd, data, size);
    },
    [](int fd) -> int {
        ++fake.closes;
        const int rc = ::close(fd);
        if (rc != 0 || fake.close_errno == 0) return rc;
        errno = fake.close_errno;
        return -1;
    },
    [] {
        if (++fake.interruptions == fake.abandon_at) throw Abandoned{};
    },
    [] {
        if (++fake.short_writes == fake.abandon_at_short_write) throw Abandoned{};
    },
};

struct SeamCase {
    const char* label;
    Fake setup;
    const char* expected;  // "success" or the rendering
    int writes;            // expected number of write calls
};

class FileWriterSeam : public testing::TestWithParam<SeamCase> {};

TEST_P(FileWriterSeam, EveryPathClosesOnce) {
    const auto& c = GetParam();
    fake = c.setup;
    TempDir dir;
    const auto path = dir / "seam.vora";
    const auto bytes = pattern_bytes(10);
    EXPECT_EQ(rendered(write_file(path.string(), bytes, fake_ops)), c.expected);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(fake.opens, 1 + c.setup.open_eintr);
    EXPECT_EQ(fake.writes, c.writes);
    EXPECT_EQ(fake.interruptions, c.setup.open_eintr + c.setup.write_eintr);
    EXPECT_EQ(fake.open_flags, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
    EXPECT_EQ(fake.open_mode, 0666u);
    if (std::string_view(c.expected) == "success") {
        EXPECT_EQ(read_all(path), bytes);
    }
}

INSTANTIATE_TEST_SUITE_P(
    FileWriter, FileWriterSeam,
    testing::Values(
        SeamCase{"InterruptedOpenAndWritesAreRepeated", Fake{.open_eintr = 2, .write_eintr = 3},
                 "success", 4},
        SeamCase{"ShortWritesContinueWithTheRest", Fake{.max_write = 3}, "success", 4},
        SeamCase{"FailingCloseIsAFailure", Fake{.close_errno = EIO},
                 R"(Os { code: 5, kind: Uncategorized, message: "Input/output error" })", 1},
        SeamCase{"FailingCloseQuota", Fake{.close_errno = EDQUOT},
                 R"(Os { code: 122, kind: QuotaExceeded, message: "Disk quota exceeded" })", 1},
        SeamCase{"InterruptedCloseIsNotReported", Fake{.close_errno = EINTR}, "success", 1},
        SeamCase{"WriteOfNothing", Fake{.write_zero = true},
                 R"(Error { kind: WriteZero, message: "failed to write whole buffer" })", 1},
        SeamCase{"WriteFailure", Fake{.write_errno = ENOSPC},
                 R"(Os { code: 28, kind: StorageFull, message: "No space left on device" })", 1}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(FileWriter, AnExceptionFromTheInterruptHookEndsTheWriteAfterClosing) {
    TempDir dir;
    for (const Fake setup : {Fake{.open_eintr = 3, .abandon_at = 2}, Fake{.write_eintr = 3, .abandon_at = 2}}) {
        fake = setup;
        EXPECT_THROW((void)write_file((dir / "x.vora").string(), pattern_bytes(10), fake_ops), Abandoned);
        EXPECT_EQ(fake.opens, setup.open_eintr > 0 ? 2 : 1);
        EXPECT_EQ(fake.writes, setup.write_eintr > 0 ? 2 : 0);
        EXPECT_EQ(fake.closes, setup.write_eintr > 0 ? 1 : 0);
    }
}

// A signal that comes once part of a write went through cuts it short instead of failing it.
TEST(FileWriter, TheShortWriteHookRunsBeforeTheRestAndMayEndTheWrite) {
    TempDir dir;
    const auto path = dir / "x.vora";
    fake = Fake{.max_write = 4};
    ASSERT_FALSE(write_file(path.string(), pattern_bytes(10), fake_ops).has_value());
    EXPECT_EQ(fake.short_writes, 2);  // after 4 and 8 bytes; none after the last
    fake = Fake{.max_write = 4, .abandon_at_short_write = 2};
    EXPECT_THROW((void)write_file(path.string(), pattern_bytes(10), fake_ops), Abandoned);
    EXPECT_EQ(fake.writes, 2);
    EXPECT_EQ(fake.closes, 1);
    EXPECT_EQ(read_all(path), pattern_bytes(8));  // what went through stays
}

TEST(FileWriter, OpenFailureMakesNoWriteOrClose) {
    fake = Fake{};
    TempDir dir;
    EXPECT_TRUE(write_file((dir / "no" / "x.vora").string(), pattern_bytes(1), fake_ops));
    EXPECT_EQ(fake.opens, 1);
    EXPECT_EQ(fake.writes, 0);
    EXPECT_EQ(fake.closes, 0);
}

struct KindCase {
    int code;
    const char* kind;
    friend void PrintTo(const KindCase& c, std::ostream* os) { *os << c.code; }
};

class ErrnoKind : public testing::TestWithParam<KindCase> {};

TEST_P(ErrnoKind, Name) {
    EXPECT_EQ(protocols::file::errno_kind_name(GetParam().code), GetParam().kind);
    EXPECT_EQ(FileError::os(GetParam().code).kind_name(), GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    FileWriter, ErrnoKind,
    testing::Values(KindCase{1, "PermissionDenied"}, KindCase{13, "PermissionDenied"},
                    KindCase{2, "NotFound"}, KindCase{4, "Interrupted"},
                    KindCase{38, "Unsupported"}, KindCase{95, "Unsupported"},
                    KindCase{36, "InvalidFilename"}, KindCase{116, "StaleNetworkFileHandle"},
                    KindCase{122, "QuotaExceeded"}, KindCase{0, "Uncategorized"},
                    KindCase{3, "Uncategorized"}, KindCase{5, "Uncategorized"},
                    KindCase{37, "Uncategorized"}, KindCase{102, "Uncategorized"},
                    KindCase{9999, "Uncategorized"}, KindCase{-1, "Uncategorized"}));

TEST(FileWriter, UnknownErrorNumberStillRenders) {
    EXPECT_EQ(FileError::os(9999).render(),
              R"(Os { code: 9999, kind: Uncategorized, message: "Unknown error 9999" })");
}

struct NameCase {
    std::string name;
    bool accepted;
    friend void PrintTo(const NameCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }
};

class ProtocolFileName : public testing::TestWithParam<NameCase> {};

TEST_P(ProtocolFileName, EndsWithDotVora) {
    EXPECT_EQ(protocols::file::has_protocol_file_name(GetParam().name), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    FileWriter, ProtocolFileName,
    testing::Values(NameCase{"session.vora", true}, NameCase{".vora", true},
                    NameCase{"dir/x.vora", true}, NameCase{"\xc3\xa9.vora", true},
                    NameCase{"x.VORA", false}, NameCase{"x.Vora", false},
                    NameCase{"x.vora.bak", false}, NameCase{"x.vora ", false},
                    NameCase{"vora", false}, NameCase{"x.vor", false}, NameCase{"", false}));

}  // namespace
