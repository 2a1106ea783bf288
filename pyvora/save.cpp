// Saving a protocol file: name check, the empty-table fill, encoding in memory, then the file.
#include "protocols/file/file_writer.hpp"
#include "protocols/file/record_encoding.hpp"
#include "pyvora/file_ops.hpp"
#include "pyvora/methods.hpp"

namespace pyvora::methods {

namespace file = protocols::file;
namespace sig = protocols::signals;

void save(Settings& s, Text filepath) {
    protocols::require(file::has_protocol_file_name(filepath.utf8), file::protocol_file_name_condition);
    // A protocol saved without signals gets the default constant signal, and keeps it.
    if (s.signals.empty()) sig::append(s.signals, sig::Signal{sig::ConstantSignalParams{0.0}});
    const encoding::Bytes bytes = file::encode(s);
    if (auto error = file::write_file(filepath.utf8, bytes.span(), python_file_ops())) {
        throw protocols::Failure(protocols::unwrap_failed(error->render()));
    }
}

}  // namespace pyvora::methods
