// The Protocol class: construction, destruction, text form and the method table.
#include <new>
#include <vector>

#include "pyvora/binding/call.hpp"
#include "pyvora/protocol/methods.hpp"
#include "pyvora/protocol/text_form.hpp"

namespace pyvora {
namespace {

PyTypeObject* protocol_class = nullptr;

inline constexpr MethodSpec NEW = method("__new__");

PyObject* protocol_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guard([&]() -> PyObject* {
        bind_arguments(NEW, ParamNames{}, args, kwargs, nullptr);  // no parameters: no names
        // Build the value first: if that runs out of memory, no object exists yet.
        protocols::Protocol value{protocols::settings::Settings::make_default()};
        value.settings.signals.clear();  // a new protocol starts with an empty signal table
        return new_protocol(type, std::move(value)).release();
    });
}

void protocol_dealloc(PyObject* self) {
    auto* object = reinterpret_cast<ProtocolObject*>(self);
    PyTypeObject* type = Py_TYPE(self);
    object->value.~Protocol();
    object->access.~AccessState();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* protocol_str(PyObject* self) {
    return guard([&] {
        ProtocolObject& object = receiver(self);
        SharedAccess access(object.access);
        return text_form(object.value);
    });
}

std::vector<PyMethodDef>& method_table() {
    using namespace methods;
    static std::vector<PyMethodDef> table = {
        method_entry<SET_STIMULATION_INTENSITY, set_stimulation_intensity>(),
        method_entry<SET_SESSION_DURATION, set_session_duration>(),
        method_entry<ENABLE_CHANNEL, enable_channel>(),
        method_entry<SET_AMPLITUDE_SOURCE, set_amplitude_source>(),
        method_entry<SET_MODULATION_SOURCE, set_modulation_source>(),
        method_entry<ADD_CONSTANT_SIGNAL, add_constant_signal>(),
        method_entry<ADD_SINE_SIGNAL, add_sine_signal>(),
        method_entry<ADD_RAMP_SIGNAL, add_ramp_signal>(),
        method_entry<ADD_MIXED_SIGNAL, add_mixed_signal>(),
        method_entry<ADD_ARBITRARY_SIGNAL, add_arbitrary_signal>(),
        method_entry<GET_NUM_SAMPLES, get_num_samples>(),
        method_entry<GET_SAMPLING_RATE, get_sampling_rate>(),
        method_entry<SAVE, save>(),
        method_entry<TO_BYTES, to_bytes>(),
        method_entry<FROM_BYTES, from_bytes>(),
        method_entry<LOAD, load>(),
        method_entry<REDUCE, reduce>(),
        method_entry<TO_DICT, to_dict>(),
        method_entry<FIND_PROBLEMS, find_problems>(),
        method_entry<SUMMARY_TEXT, summary_text>(),
        method_entry<FROM_DICT, from_dict>(),
        method_entry<REPR_HTML, repr_html>(),
        method_entry<TO_DICT_BUFFERS, to_dict_buffers>(),
        method_entry<OVERVIEW, overview>(),
        method_entry<SUMMARY_HTML, summary_html>(),
        method_entry<TO_JSON, to_json>(),
        method_entry<FROM_JSON, from_json>(),
        PyMethodDef{nullptr, nullptr, 0, nullptr},
    };
    return table;
}

}  // namespace

Ref new_protocol(PyTypeObject* type, protocols::Protocol value) {
    Ref self = check(type->tp_alloc(type, 0));
    auto* object = reinterpret_cast<ProtocolObject*>(self.get());
    new (&object->access) AccessState();
    new (&object->value) protocols::Protocol(std::move(value));
    return self;
}

PyObject* create_protocol_type() {
    if (protocol_class != nullptr) return Py_NewRef(reinterpret_cast<PyObject*>(protocol_class));
    return guard([&]() -> PyObject* {
        PyType_Slot slots[] = {
            {Py_tp_doc, const_cast<char*>("Protocol()\n--\n\n")},
            {Py_tp_new, reinterpret_cast<void*>(protocol_new)},
            {Py_tp_dealloc, reinterpret_cast<void*>(protocol_dealloc)},
            {Py_tp_str, reinterpret_cast<void*>(protocol_str)},
            {Py_tp_methods, method_table().data()},
            {0, nullptr},
        };
        PyType_Spec type_spec{"builtins.Protocol", sizeof(ProtocolObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
        Ref type = check(PyType_FromSpec(&type_spec));
        protocol_class = reinterpret_cast<PyTypeObject*>(type.get());
        Py_INCREF(type.get());  // kept for the life of the process
        return type.release();
    });
}

PyTypeObject* protocol_type() noexcept { return protocol_class; }

}  // namespace pyvora
