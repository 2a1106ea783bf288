#include "protocols/file/mapped_file.hpp"

#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <utility>

namespace protocols::file {
namespace {

// The mapping being read, as the handler sees it: set before the handler is put in place and
// cleared after it is taken away, one guarded reading at a time.
std::mutex one_reading;
std::atomic<std::uintptr_t> guarded_begin{0};
std::atomic<std::uintptr_t> guarded_end{0};  // rounded up to a whole page
std::atomic<std::uintptr_t> page_size{4096};
std::atomic<bool> file_shrank{false};
struct sigaction previous_action;
bool installed = false;
static_assert(std::atomic<std::uintptr_t>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the handler reads them");

// What the signal would have met without this handler: the program's disposition, whatever it
// is, while this handler stays in place to guard the mapping until the reading ends.
void pass_on(int signal, siginfo_t* info, void* context) {
    const struct sigaction previous = previous_action;
    const bool sent = info->si_code <= 0;  // by kill or raise; a fault would come back at once
    if (previous.sa_handler == SIG_IGN && sent) return;
    if (previous.sa_handler == SIG_DFL || previous.sa_handler == SIG_IGN) {
        // The default action ends the process (the system does that to an ignored fault too).
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigaction(SIGBUS, &fallback, nullptr);
        sigset_t only;
        sigemptyset(&only);
        sigaddset(&only, SIGBUS);
        raise(signal);
        pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
        return;  // not reached
    }
    if (previous.sa_flags & SA_RESETHAND) {  // the program's handler runs once, then the default
        previous_action.sa_handler = SIG_DFL;
        previous_action.sa_flags &= ~SA_SIGINFO;
    }
    sigset_t saved;
    pthread_sigmask(SIG_BLOCK, &previous.sa_mask, &saved);
    if (previous.sa_flags & SA_SIGINFO) {
        previous.sa_sigaction(signal, info, context);
    } else {
        previous.sa_handler(signal);
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
}

void on_sigbus(int signal, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    const std::uintptr_t begin = guarded_begin.load(), end = guarded_end.load();
    if (info->si_code == BUS_ADRERR && at >= begin && at < end) {
        // From the faulting page on, zero pages in place of the file's: the reading goes on over
        // them, and its result is thrown away. (mmap is not on POSIX's list of calls safe in a
        // signal handler, but on Linux it is the bare system call.)
        const std::uintptr_t page = at & ~(page_size.load() - 1);
        void* zeros = mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                           MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
        if (zeros != MAP_FAILED) {
            file_shrank.store(true);
            return;
        }
    }
    // Not a fault in the mapping (or no zero pages to be had).
    pass_on(signal, info, context);
}

}  // namespace

std::optional<MappedFile> MappedFile::map(int fd, std::size_t size) noexcept {
    if (size == 0) return std::nullopt;
#ifdef MAP_POPULATE
    constexpr int populate = MAP_POPULATE;  // all pages at once, not one fault each
#else
    constexpr int populate = 0;
#endif
    void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | populate, fd, 0);
    if (data == MAP_FAILED) return std::nullopt;
    return MappedFile(static_cast<const std::uint8_t*>(data), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

MappedFile::~MappedFile() {
    if (data_ != nullptr) munmap(const_cast<std::uint8_t*>(data_), size_);
}

MappedFile::Guard::Guard(const MappedFile& file) {
    one_reading.lock();
    const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto begin = reinterpret_cast<std::uintptr_t>(file.data_);
    page_size.store(page);
    guarded_begin.store(begin);
    guarded_end.store((begin + file.size_ + page - 1) & ~(page - 1));
    file_shrank.store(false);
    // The handler there now is asked for first, so that it is known before ours can run.
    struct sigaction ours {};
    ours.sa_sigaction = on_sigbus;
    ours.sa_flags = SA_SIGINFO;
    sigemptyset(&ours.sa_mask);
    installed = sigaction(SIGBUS, nullptr, &previous_action) == 0 && sigaction(SIGBUS, &ours, nullptr) == 0;
    // Cannot fail with these arguments; unguarded, the mapping is not read at all.
    if (!installed) file_shrank.store(true);
}

MappedFile::Guard::~Guard() {
    if (installed) sigaction(SIGBUS, &previous_action, nullptr);
    guarded_begin.store(0);
    guarded_end.store(0);
    one_reading.unlock();
}

bool MappedFile::Guard::shrank() const noexcept { return file_shrank.load(); }

}  // namespace protocols::file
