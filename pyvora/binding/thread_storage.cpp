// libstdc++ is loaded with this module, after the interpreter started, so its thread-local
// block (the exception-handling globals that every throw and catch uses) is dynamic TLS:
// glibc allocates it for each thread on the thread's first access, and when that allocation
// fails it ends the process ("cannot allocate memory for thread-local data") instead of
// reporting it. Out of memory, the first throw in a thread (a bad_alloc, a refusal) would
// then kill the process where MemoryError is promised.
//
// So each thread touches the block once, before anything can throw, and only after checking
// that the allocation will succeed: a probe of probe_size bytes is allocated and freed just
// before the touch. The block and a grown thread vector (both well below 1 KiB) are then cut
// out of that freed memory: it stays with the thread's arena (too small to go back to the
// system by mmap or trimming, too large for a per-size cache), and the allocator serves a
// request from free memory it holds before asking the system for more. Nothing allocates in
// between: this thread holds the interpreter lock and makes no other call. A failed probe is
// a plain MemoryError, and nothing has been changed.
//
// Which threads are done is kept in a pthread key: reading it allocates nothing, and setting
// it reports failure instead of aborting. The module itself has no thread-local variables, so
// libstdc++'s block is the only dynamic TLS on its paths (tests/python/test_memory.py checks both).
#include "pyvora/binding/thread_storage.hpp"

#include <cxxabi.h>
#include <pthread.h>

#if defined(_LIBCPPABI_VERSION)
// libc++abi (the wheels' runtime, linked into the module) defines it without declaring it; its
// block is then in the module's own TLS segment, dynamic TLS all the same.
namespace __cxxabiv1 {
extern "C" void* __cxa_get_globals() noexcept;
}
#endif

#include <cstdlib>

#include "pyvora/binding/python.hpp"

namespace pyvora {
namespace {

constexpr std::size_t probe_size = 16 << 10;

// Created on the first call; every call runs under the interpreter lock.
pthread_key_t ready_key;
bool key_created = false;
char ready_marker;  // any non-null value marks a thread as done
// __cxa_get_globals is declared const: a call whose result is unused may be dropped.
void* volatile touched_storage;
// The probe is called through volatile pointers: a compiler may drop a plain malloc and free
// whose memory is never used (newer GCCs do), and then no probe would ask the allocator.
void* (*volatile probe_allocate)(std::size_t) = std::malloc;
void (*volatile probe_free)(void*) = std::free;

bool touch_storage() noexcept {
    if (!key_created) {
        if (pthread_key_create(&ready_key, nullptr) != 0) return false;
        key_created = true;
    }
    void* probe = probe_allocate(probe_size);
    if (probe == nullptr) return false;
    probe_free(probe);
    touched_storage = abi::__cxa_get_globals();  // allocates the block of a thread that has none
    return pthread_setspecific(ready_key, &ready_marker) == 0;
}

}  // namespace

bool thread_storage_ready() noexcept {
    if (key_created && pthread_getspecific(ready_key) != nullptr) return true;
    if (touch_storage()) return true;
    PyErr_NoMemory();
    return false;
}

}  // namespace pyvora
