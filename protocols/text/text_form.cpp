#include "protocols/text/text_form.hpp"

namespace protocols::text {

TextSize measure(const Protocol& protocol, SampleLists samples) {
    return measure_value(protocol, 0, samples);
}

std::size_t text_length(const Protocol& protocol) { return measure(protocol).length; }

bool text_is_ascii(const Protocol& protocol) { return measure(protocol).ascii; }

char* render_into(const Protocol& protocol, char* out, SampleLists samples) {
    return render_value_into(protocol, out, 0, samples);
}

std::string render(const Protocol& protocol, SampleLists samples) {
    return render_value(protocol, 0, samples);
}

}  // namespace protocols::text
