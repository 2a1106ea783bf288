// Protocol.load, Protocol.from_bytes, to_bytes and pickling, all through the protocol file.
#include "pyvora/protocol/read_back.hpp"

#include <sys/stat.h>

#include <optional>
#include <span>

#include "protocols/file/mapped_file.hpp"
#include "protocols/file/record_decoding.hpp"
#include "protocols/file/record_encoding.hpp"
#include "pyvora/binding/call.hpp"
#include "pyvora/binding/errors.hpp"
#include "pyvora/protocol/methods.hpp"

namespace pyvora {
namespace {

namespace file = protocols::file;

PyObject* restore = nullptr;  // the module's _protocol_from_bytes, kept for the process

[[noreturn]] void raise_decode_error(const file::DecodeFailure& failure) {
    pyvora::raise_decode_error(failure.what(), failure.path(), failure.offset());
}

Ref protocol_from(PyTypeObject* cls, std::span<const std::uint8_t> bytes) {
    try {
        return new_protocol(cls, protocols::Protocol{file::decode(bytes)});
    } catch (const file::DecodeFailure& failure) {
        raise_decode_error(failure);
    }
}

// The file is opened, read and closed by the interpreter's own file object: its errors are the
// OSError subclasses open() raises, with the file name, and an interrupted read runs the signal
// handlers before it goes on.
Ref open_file(PyObject* path) {
    Ref io = check(PyImport_ImportModule("_io"));
    return check(PyObject_CallMethod(io.get(), "FileIO", "Os", path, "r"));
}

void close_file(PyObject* opened) { check(PyObject_CallMethod(opened, "close", nullptr)); }

Ref read_and_close(PyObject* opened) {
    Ref data = Ref::steal(PyObject_CallMethod(opened, "readall", nullptr));
    Ref failure = data ? Ref{} : fetch_exception();
    Ref closed = Ref::steal(PyObject_CallMethod(opened, "close", nullptr));
    if (failure) {
        // The read's error is the one to report; a second one from close adds nothing.
        if (!closed) PyErr_Clear();
        restore_exception(std::move(failure));
        throw PythonError{};
    }
    if (!closed) throw PythonError{};
    return data;
}

// Regular files from this size on are read in place, from the page cache (the copy a read makes
// is most of what a read costs). Smaller files, and files that are not regular (FIFOs, devices,
// where mapping does not apply), are read.
constexpr off_t map_from = 1 << 20;

std::optional<file::MappedFile> map_if_worth_it(PyObject* opened) {
    const int fd = PyObject_AsFileDescriptor(opened);
    if (fd < 0) throw PythonError{};
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < map_from) return std::nullopt;
    return file::MappedFile::map(fd, static_cast<std::size_t>(status.st_size));
}

// The buffer is taken as given: its own TypeError, not one naming the argument, reports
// anything that is not bytes-like.
Ref protocol_from_bytes(AnyObject data) {
    BufferView view(data.object);
    return protocol_from(protocol_type(), view.bytes());
}

constexpr MethodSpec PROTOCOL_FROM_BYTES = on_module(documented(
    method("_protocol_from_bytes", Param{"data"}), "Rebuild a pickled Protocol from its file bytes."));

}  // namespace

PyObject* restore_function(PyObject* module) {
    return module_function(restore, function_entry<PROTOCOL_FROM_BYTES, protocol_from_bytes>(), module);
}

namespace methods {

Ref to_bytes(const Settings& s) {
    // An empty table is written as saving writes it, from a copy: the protocol is not changed.
    std::optional<Settings> filled;
    const Settings& source = protocols::settings::as_saved(s, filled);
    // Room for the longest form of every sample, encoded straight into, then cut to the length
    // written: one pass over the samples, no copy (pages never written are never touched).
    const std::size_t bound = file::encoded_size_bound(source);
    Ref bytes = check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(bound)));
    const std::size_t size =
        file::encode_into(source, {reinterpret_cast<std::uint8_t*>(PyBytes_AS_STRING(bytes.get())), bound});
    PyObject* resized = bytes.release();
    check_status(_PyBytes_Resize(&resized, static_cast<Py_ssize_t>(size)));  // frees it on failure
    return Ref::steal(resized);
}

Ref from_bytes(PyTypeObject* cls, BufferView data) { return protocol_from(cls, data.bytes()); }

Ref load(PyTypeObject* cls, FsPath filepath) {
    Ref opened = open_file(filepath.path.get());
    if (auto mapped = map_if_worth_it(opened.get())) {
        // No Python call while the guard is in place: a result thrown away leaves no error set.
        std::optional<Settings> decoded;
        std::optional<file::DecodeFailure> failure;
        const bool whole = mapped->read_guarded([&] {
            try {
                decoded.emplace(file::decode(mapped->bytes()));
            } catch (const file::DecodeFailure& f) {
                failure.emplace(f);
            }
        });
        if (whole) {
            close_file(opened.get());
            if (failure) raise_decode_error(*failure);
            return new_protocol(cls, protocols::Protocol{std::move(*decoded)});
        }
        // The file shrank while it was read in place: read it as it is now.
    }
    Ref data = read_and_close(opened.get());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(PyBytes_AS_STRING(data.get()));
    return protocol_from(cls, {bytes, static_cast<std::size_t>(PyBytes_GET_SIZE(data.get()))});
}

Ref reduce(const Settings& s) {
    if (restore == nullptr) {
        PyErr_SetString(PyExc_RuntimeError, "pyvora is not initialised");
        throw PythonError{};
    }
    Ref bytes = to_bytes(s);
    return check(Py_BuildValue("(O(O))", restore, bytes.get()));
}

}  // namespace methods
}  // namespace pyvora
