// Saving a protocol file: name check, the empty-table fill, encoding in memory, then the file.
#include <optional>
#include <utility>

#include "protocols/file/file_writer.hpp"
#include "protocols/file/record_encoding.hpp"
#include "pyvora/binding/file_ops.hpp"
#include "pyvora/protocol/methods.hpp"

namespace pyvora::methods {

namespace file = protocols::file;

void save(Settings& s, Text filepath) {
    protocols::require(file::has_protocol_file_name(filepath.utf8), file::protocol_file_name_condition);
    // A protocol saved without signals gets the default constant signal, and keeps it once the
    // file has been tried, written or not. The fill goes into a copy (small: its table is empty)
    // that moves in only when nothing can fail any more, so running out of memory or an
    // exception from a signal handler leaves the protocol as it was. Such an exception (Ctrl-C
    // while a FIFO's reader does not read) comes out as itself; the file, truncated when it was
    // opened, keeps the bytes written before it.
    std::optional<Settings> filled;
    const encoding::Bytes bytes = file::encode(protocols::settings::as_saved(s, filled));
    std::optional<protocols::Failure> failure;
    if (auto error = file::write_file(filepath.utf8, bytes.span(), python_file_ops())) {
        failure = protocols::Failure(protocols::unwrap_failed(error->render()));
    }
    if (filled) s.signals = std::move(filled->signals);
    if (failure) throw *failure;
}

}  // namespace pyvora::methods
