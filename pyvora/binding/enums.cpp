#include "pyvora/binding/enums.hpp"

#include <array>
#include <new>
#include <string_view>
#include <utility>

#include "pyvora/binding/call.hpp"
#include "pyvora/binding/errors.hpp"

namespace pyvora {
namespace {

struct EnumDescription {
    const char* type_name;    // "builtins.<name>"
    const char* class_name;   // for repr
    std::array<const char*, 4> members;
    std::uint8_t count;
};

constexpr EnumDescription COIL{"builtins.Coil", "Coil", {"A1", "A2", "B1", "B2"}, 4};
constexpr EnumDescription CHANNEL{"builtins.Channel", "Channel", {"A", "B", nullptr, nullptr}, 2};

PyTypeObject* coil_class = nullptr;
PyTypeObject* channel_class = nullptr;

const EnumDescription& description_of(PyObject* self) {
    return Py_IS_TYPE(self, coil_class) ? COIL : CHANNEL;
}

PyObject* member_int(PyObject* self) {
    return guard([&] {
        auto* member = reinterpret_cast<MemberObject*>(self);
        SharedAccess access(member->access);
        return PyLong_FromLong(member->number);
    });
}

PyObject* member_repr(PyObject* self) {
    return guard([&] {
        auto* member = reinterpret_cast<MemberObject*>(self);
        SharedAccess access(member->access);
        const EnumDescription& d = description_of(self);
        return PyUnicode_FromFormat("%s.%s", d.class_name, d.members[member->number]);
    });
}

// Pickling and copying: a member is rebuilt as the module's one instance of it, by name, through
// pyvora._enum_member. (The classes' __module__ is "builtins", so pickle cannot find them as
// globals itself.) copy and deepcopy go the same way and give the member itself.
PyObject* lookup = nullptr;  // pyvora._enum_member, kept for the process

PyObject* member_reduce(PyObject* self, PyObject*) {
    return guard([&]() -> PyObject* {
        if (lookup == nullptr) {
            PyErr_SetString(PyExc_RuntimeError, "pyvora is not initialised");
            return nullptr;
        }
        auto* member = reinterpret_cast<MemberObject*>(self);
        SharedAccess access(member->access);
        const EnumDescription& d = description_of(self);
        return Py_BuildValue("(O(ss))", lookup, d.class_name, d.members[member->number]);
    });
}

PyMethodDef member_methods[] = {
    {"__reduce__", member_reduce, METH_NOARGS, "Helper for pickle and copy: the member by its name."},
    {nullptr, nullptr, 0, nullptr},
};

// _enum_member("Coil", "A1") is Coil.A1; nothing but a member of the two classes is returned.
Ref enum_member(PositionalArguments args) {
    if (args.size() != 2 || !PyUnicode_Check(args[0]) || !PyUnicode_Check(args[1])) {
        throw_type_error("_enum_member() takes two str arguments");
    }
    const char* class_name = PyUnicode_AsUTF8(args[0]);
    const char* member_name = class_name != nullptr ? PyUnicode_AsUTF8(args[1]) : nullptr;
    if (member_name == nullptr) throw PythonError{};
    for (const auto& [d, cls] : {std::pair{&COIL, coil_class}, std::pair{&CHANNEL, channel_class}}) {
        if (cls == nullptr || std::string_view(class_name) != d->class_name) continue;
        for (std::uint8_t i = 0; i < d->count; ++i) {
            if (std::string_view(member_name) == d->members[i]) {
                return check(PyObject_GetAttrString(reinterpret_cast<PyObject*>(cls), d->members[i]));
            }
        }
    }
    PyErr_Format(PyExc_ValueError, "no enumeration member %s.%s", class_name, member_name);
    throw PythonError{};
}

constexpr MethodSpec ENUM_MEMBER = on_module(documented(
    method("_enum_member", Param{"enumeration"}, Param{"member"}),
    "The member of Coil or Channel with that name, for pickle."));

void member_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    reinterpret_cast<MemberObject*>(self)->access.~AccessState();
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* create_enum(const EnumDescription& d, PyTypeObject*& slot) {
    if (slot != nullptr) return Py_NewRef(reinterpret_cast<PyObject*>(slot));
    PyType_Slot slots[] = {
        {Py_nb_int, reinterpret_cast<void*>(member_int)},
        {Py_tp_repr, reinterpret_cast<void*>(member_repr)},
        {Py_tp_dealloc, reinterpret_cast<void*>(member_dealloc)},
        {Py_tp_methods, member_methods},
        {0, nullptr},
    };
    PyType_Spec type_spec{d.type_name, sizeof(MemberObject), 0,
                     Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, slots};
    return guard([&]() -> PyObject* {
        Ref type = check(PyType_FromSpec(&type_spec));
        auto* tp = reinterpret_cast<PyTypeObject*>(type.get());
        for (std::uint8_t i = 0; i < d.count; ++i) {
            Ref member = check(tp->tp_alloc(tp, 0));
            auto* m = reinterpret_cast<MemberObject*>(member.get());
            new (&m->access) AccessState();
            m->number = i;
            check_status(PyObject_SetAttrString(type.get(), d.members[i], member.get()));
        }
        // Members are in place: from now on nobody may rebind or add class attributes, so
        // Coil.A1 always names coil A1.
        tp->tp_flags |= Py_TPFLAGS_IMMUTABLETYPE;
        PyType_Modified(tp);
        slot = tp;
        Py_INCREF(type.get());  // the slot keeps the class for the life of the process
        return type.release();
    });
}

}  // namespace

PyObject* enum_member_function(PyObject* module) {
    return module_function(lookup, function_entry<ENUM_MEMBER, enum_member>(), module);
}

PyObject* create_coil_type() { return create_enum(COIL, coil_class); }
PyObject* create_channel_type() { return create_enum(CHANNEL, channel_class); }
PyTypeObject* coil_type() noexcept { return coil_class; }
PyTypeObject* channel_type() noexcept { return channel_class; }

}  // namespace pyvora
