// The file system calls as the extension makes them. Like the interpreter's own calls, an
// interrupted one, and a write cut short, runs Python's signal handlers before it goes on, so
// Ctrl-C stops a save that blocks (a FIFO nobody reads): an exception a handler raises abandons
// the operation and comes out as PythonError. The interpreter lock stays held throughout.
#pragma once

#include "protocols/file/file_ops.hpp"

namespace pyvora {

const protocols::file::FileOps& python_file_ops() noexcept;

}  // namespace pyvora
