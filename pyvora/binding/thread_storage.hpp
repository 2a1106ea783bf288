// The C++ runtime's thread-local storage, made to exist before an entry point can throw.
#pragma once

namespace pyvora {

// True once the calling thread's thread-local block of the C++ runtime exists, which the first
// exception thrown in a thread needs. False, with MemoryError set and nothing else done, when
// memory ran out before it could be made. Every entry point asks first (see guard).
bool thread_storage_ready() noexcept;

}  // namespace pyvora
