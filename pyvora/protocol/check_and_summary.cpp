// find_problems() and the summary text of the command-line tool: read-only views of a protocol.
#include "protocols/check/problems.hpp"
#include "pyvora/protocol/methods.hpp"
#include "pyvora/protocol/text_form.hpp"

namespace pyvora::methods {

Ref find_problems(const Settings& s) {
    return list_of(protocols::check::find_problems(s), [](const std::string& problem) { return str_of(problem); });
}

Ref summary_text(const protocols::Protocol& protocol) {
    return text_form(protocol, protocols::text::SampleLists::summary);
}

}  // namespace pyvora::methods
