#include "pyvora/binding/method.hpp"

namespace pyvora {

std::string docstring(const MethodSpec& decl) {
    std::string doc(decl.name);
    doc += decl.on_module ? "(" : decl.on_class ? "($type" : "($self";
    for (std::size_t i = 0; i < decl.count; ++i) {
        if (i != 0 || !decl.on_module) doc.append(", ");
        doc.append(decl.params[i].name);
        if (!decl.params[i].default_text.empty()) doc.append("=").append(decl.params[i].default_text);
    }
    if (decl.on_module && decl.count != 0) doc += ", /";
    doc += ")\n--\n\n";
    doc += decl.doc;
    return doc;
}

}  // namespace pyvora
