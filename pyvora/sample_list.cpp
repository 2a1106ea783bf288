#include "pyvora/sample_list.hpp"

#include <cstdint>
#include <span>
#include <string_view>

#include "protocols/json/sample_list.hpp"
#include "pyvora/convert.hpp"
#include "pyvora/errors.hpp"

namespace pyvora {
namespace {

PyObject* read_sample_list(PyObject*, PyObject* text) {
    return guard([&]() -> PyObject* {
        const BufferView view(text);
        const auto bytes = view.bytes();
        const std::string_view list(reinterpret_cast<const char*>(bytes.data()), bytes.size());
        const std::size_t n = protocols::json::sample_list_length(list);
        // Sized once from the commas; a text of another spelling only costs this allocation.
        Ref samples = check(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(n * sizeof(std::int16_t))));
        auto* out = reinterpret_cast<std::int16_t*>(PyBytes_AS_STRING(samples.get()));
        if (!protocols::json::read_sample_list(list, std::span(out, n))) Py_RETURN_NONE;
        return samples.release();
    });
}

}  // namespace

PyMethodDef read_sample_list_definition = {
    "_read_sample_list", read_sample_list, METH_O,
    "_read_sample_list(text, /)\n--\n\n"
    "The samples of a JSON sample list spelt as 'pyvora export' writes it, as bytes of\n"
    "native int16; None for any other spelling. For the command's JSON reader.",
};

}  // namespace pyvora
