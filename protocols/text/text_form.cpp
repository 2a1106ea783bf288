#include "protocols/text/text_form.hpp"

namespace protocols::text {

TextSize measure(const Protocol& protocol) { return measure_value(protocol, 0); }

std::size_t text_length(const Protocol& protocol) { return measure(protocol).length; }

bool text_is_ascii(const Protocol& protocol) { return measure(protocol).ascii; }

char* render_into(const Protocol& protocol, char* out) {
    return render_value_into(protocol, out, 0);
}

std::string render(const Protocol& protocol) { return render_value(protocol, 0); }

}  // namespace protocols::text
