// Module entry: one module object per process, holding the three classes.
#include "pyvora/binding/enums.hpp"
#include "pyvora/binding/call.hpp"
#include "pyvora/binding/errors.hpp"
#include "pyvora/functions.hpp"
#include "pyvora/binding/protocol_object.hpp"
#include "pyvora/protocol/read_back.hpp"

#ifndef PYVORA_VERSION
#error "PYVORA_VERSION (the distribution's version) comes from CMakeLists.txt"
#endif

namespace pyvora {
namespace {

PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT, "pyvora", "", 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyObject* cached_module = nullptr;
std::int64_t owning_interpreter = -1;

PyObject* add_class(PyObject* module, const char* name, PyObject* (*create)()) {
    Ref type = check(create());
    check_status(PyModule_AddObjectRef(module, name, type.get()));
    return module;
}

// A function of the module under the name its definition gives; the module holds it, and the
// module is kept for the process.
void add_function(PyObject* module, PyMethodDef& definition) {
    Ref name = check(PyModule_GetNameObject(module));
    Ref function = check(PyCFunction_NewEx(&definition, nullptr, name.get()));
    check_status(PyModule_AddObjectRef(module, definition.ml_name, function.get()));
}

PyObject* initialise() {
    return guard([]() -> PyObject* {
        const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
        if (owning_interpreter != -1 && owning_interpreter != interpreter) {
            PyErr_SetString(PyExc_ImportError,
                            "pyvora can only be imported in one interpreter per process; "
                            "sub-interpreters are not supported");
            return nullptr;
        }
        if (cached_module != nullptr) return Py_NewRef(cached_module);
        Ref module = check(PyModule_Create(&module_definition));
#ifdef Py_GIL_DISABLED
        // Every method relies on the interpreter lock being held.
        check_status(PyUnstable_Module_SetGIL(module.get(), Py_MOD_GIL_USED));
#endif
        add_class(module.get(), "Protocol", create_protocol_type);
        add_class(module.get(), "Channel", create_channel_type);
        add_class(module.get(), "Coil", create_coil_type);
        // The convention surface, after the classes: reading files back, pickling, and the
        // command's helpers.
        check_status(PyModule_AddObjectRef(module.get(), "DecodeError", decode_error_type()));
        check_status(PyModule_AddObjectRef(module.get(), "_protocol_from_bytes",
                                           restore_function(module.get())));
        check_status(PyModule_AddObjectRef(module.get(), "_enum_member", enum_member_function(module.get())));
        add_function(module.get(), function_entry<functions::VALUE_TEXT, functions::value_text>());
        check_status(PyModule_AddObjectRef(module.get(), "_LIMITS", functions::limits_dict().get()));
        add_function(module.get(), function_entry<functions::JSON_SCHEMA, functions::json_schema>());
        add_function(module.get(), function_entry<functions::LARGEST_STEP, functions::largest_step>());
        add_function(module.get(), function_entry<functions::LAYOUT, functions::layout>());
        check_status(PyModule_AddStringConstant(module.get(), "__version__", PYVORA_VERSION));
        owning_interpreter = interpreter;
        cached_module = Py_NewRef(module.get());  // kept for the life of the process
        return module.release();
    });
}

}  // namespace
}  // namespace pyvora

PyMODINIT_FUNC PyInit_pyvora(void) { return pyvora::initialise(); }
