#include "pyvora/binding/file_ops.hpp"

#include "pyvora/binding/errors.hpp"

namespace pyvora {
namespace {

void run_signal_handlers() {
    if (PyErr_CheckSignals() < 0) throw PythonError{};
}

const protocols::file::FileOps ops = [] {
    protocols::file::FileOps o = protocols::file::posix_file_ops();
    o.interrupted = run_signal_handlers;
    o.short_write = run_signal_handlers;
    return o;
}();

}  // namespace

const protocols::file::FileOps& python_file_ops() noexcept { return ops; }

}  // namespace pyvora
