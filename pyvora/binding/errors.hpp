// The one road from C++ failures to Python exceptions.
//
// Inside the extension, failures travel as C++ exceptions:
//   - PythonError: a Python exception is already set (argument errors, access conflicts);
//   - protocols::Failure: a violated precondition, raised as the panic exception;
//   - std::bad_alloc: memory ran out, raised as MemoryError.
// Every entry point runs its body through `guard`, which turns them into the Python error.
//
// The texts a script sees are a compatibility contract: existing scripts match on them as
// strings, so they stay byte for byte, however odd they read. That covers the panic type's
// name `pyo3_runtime.PanicException` (errors.cpp), the `builtins.` qualified class names
// (protocol_type.cpp, enums.cpp), the argument and cast messages (bind.cpp, convert.cpp), the
// borrow messages (access.hpp), the failed-condition texts of require() and protocols/error.hpp,
// and the file errors' `Os { code, kind, message }` rendering (protocols/file/file_writer.cpp).
// That is the contract surface; the convention surface follows ordinary Python conventions
// instead (method.hpp), and its refusals of bad data are pyvora.DecodeError.
#pragma once

#include <cstddef>
#include <new>
#include <optional>
#include <source_location>
#include <string>
#include <string_view>
#include <type_traits>

#include "protocols/error.hpp"
#include "pyvora/binding/object.hpp"
#include "pyvora/binding/python.hpp"
#include "pyvora/binding/thread_storage.hpp"

namespace pyvora {

// Marker: the Python error indicator is set.
struct PythonError {};

// Throws PythonError when p is null (a Python call failed), else steals p.
Ref check(PyObject* p);
// Throws PythonError when status is negative.
void check_status(int status);

// Sets the panic exception (created on first need) and writes the diagnostic to stderr.
void raise_panic(std::string_view message, const std::source_location& where) noexcept;

// Sets TypeError "'<qualname of obj's type>' object cannot be cast as '<expected>'" and throws.
[[noreturn]] void throw_cast_error(PyObject* obj, const char* expected);

// Sets TypeError(message) and throws.
[[noreturn]] void throw_type_error(const std::string& message);

// pyvora.DecodeError, a ValueError: bytes that are not a protocol file, or data that is not a
// protocol. Created on first need and kept for the life of the process.
PyObject* decode_error_type();

// Raises DecodeError(message) with its path and offset (None when the problem is not in bytes,
// as for from_dict) as the pending exception, and throws PythonError.
[[noreturn]] void raise_decode_error(std::string_view message, std::string_view path,
                                     std::optional<std::size_t> offset);

// The pending exception, taken out of the error indicator (normalised), and its restoration.
Ref fetch_exception() noexcept;
void restore_exception(Ref exception) noexcept;

// Runs an entry point's body; the body returns a new reference (PyObject* or Ref).
template <class F>
PyObject* guard(F&& body) noexcept {
    if (!thread_storage_ready()) return nullptr;  // before anything can throw
    try {
        if constexpr (std::is_same_v<decltype(body()), Ref>) {
            return body().release();
        } else {
            return body();
        }
    } catch (const PythonError&) {
    } catch (const protocols::Failure& failure) {
        raise_panic(failure.what(), failure.where());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        raise_panic(error.what(), std::source_location::current());
    } catch (...) {
        raise_panic("unexpected C++ exception", std::source_location::current());
    }
    return nullptr;
}

}  // namespace pyvora
