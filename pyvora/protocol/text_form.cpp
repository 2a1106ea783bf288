#include "pyvora/protocol/text_form.hpp"

#include "protocols/text/text_form.hpp"
#include "pyvora/binding/convert.hpp"

namespace pyvora {

Ref text_form(const protocols::Protocol& protocol, protocols::text::SampleLists samples) {
    const protocols::text::TextSize size = protocols::text::measure(protocol, samples);
    if (size.ascii) {
        // The text is measured exactly, so it is written straight into the str: no second copy.
        Ref text = check(PyUnicode_New(static_cast<Py_ssize_t>(size.length), 127));
        char* begin = static_cast<char*>(PyUnicode_DATA(text.get()));
        protocols::text::render_into(protocol, begin, samples);
        return text;
    }
    const std::string utf8 = protocols::text::render(protocol, samples);
    return str_of(utf8);
}

}  // namespace pyvora
