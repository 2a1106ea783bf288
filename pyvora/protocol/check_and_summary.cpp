// find_problems() and the summary text of the command-line tool: read-only views of a protocol.
#include "protocols/check/problems.hpp"
#include "pyvora/protocol/methods.hpp"
#include "pyvora/protocol/text_form.hpp"

namespace pyvora::methods {

Ref find_problems(const Settings& s) {
    const std::vector<std::string> problems = protocols::check::find_problems(s);
    Ref list = check(PyList_New(static_cast<Py_ssize_t>(problems.size())));
    for (std::size_t i = 0; i < problems.size(); ++i) {
        Ref text = check(PyUnicode_DecodeUTF8(problems[i].data(),
                                              static_cast<Py_ssize_t>(problems[i].size()), "strict"));
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), text.release());
    }
    return list;
}

Ref summary_text(const protocols::Protocol& protocol) {
    return text_form(protocol, protocols::text::SampleLists::summary);
}

}  // namespace pyvora::methods
