#include "protocols/text/html_summary.hpp"

#include <array>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <variant>

#include "protocols/check/problems.hpp"
#include "protocols/text/float_text.hpp"
#include "protocols/text/quote.hpp"
#include "protocols/text/renderer.hpp"

namespace protocols::text {
namespace {

using settings::ChannelSettings;
using settings::Settings;
using settings::SignalSourceSelection;
namespace sig = protocols::signals;

class Html {
public:
    // Text, escaped for HTML.
    Html& operator<<(std::string_view text) {
        for (const char c : text) {
            switch (c) {
                case '&': out_ += "&amp;"; break;
                case '<': out_ += "&lt;"; break;
                case '>': out_ += "&gt;"; break;
                case '"': out_ += "&quot;"; break;
                case '\'': out_ += "&#x27;"; break;
                default: out_ += c;
            }
        }
        return *this;
    }
    // Markup, written as it is.
    Html& tag(std::string_view markup) {
        out_ += markup;
        return *this;
    }
    Html& row(std::string_view head, std::string_view value, bool problem = false) {
        tag("<tr><th style=\"text-align:left\">") << head;
        tag(problem ? "</th><td style=\"text-align:left;color:#b00020\">" : "</th><td style=\"text-align:left\">")
            << value;
        return tag("</td></tr>");
    }
    std::string take() && { return std::move(out_); }

private:
    std::string out_;
};

std::string number(std::uint64_t n) { return std::to_string(n); }

// A signal's parameters on one line, "amplitude 1.0, frequency 10.0, ...", each value as the
// text form writes it and sample lists as their summary.
std::string parameters(const sig::Signal& signal) {
    std::string out;
    std::visit(
        [&](const auto& params) {
            std::remove_cvref_t<decltype(params)>::fields(params, [&](std::string_view name, const auto& value) {
                if (!out.empty()) out += ", ";
                out.append(name).append(" ").append(render_value(value, 0, SampleLists::summary));
            });
        },
        signal.params);
    return out;
}

std::string source(const Settings& s, const SignalSourceSelection& selection) {
    if (selection.external_selected) {
        std::string text = "external input " + number(selection.external);
        if (selection.external >= s.machine_config.num_external_signal_sources) text += " (does not exist)";
        return text;
    }
    std::string text = "signal " + number(selection.internal);
    if (selection.internal >= s.signals.size()) return text + " (does not exist)";
    return text + " (" + std::string(sig::Signal::kind_names[s.signals[selection.internal].params.index()]) + ")";
}

std::string coil(const Settings& s, const ChannelSettings& channel) {
    std::string text = "coil " + number(channel.coil_idx);
    if (channel.coil_idx >= s.machine_config.coils.size()) return text + " (does not exist)";
    const auto& c = s.machine_config.coils[channel.coil_idx];
    text.append(" ").append(quoted(c.name)).append(", tuning entry ").append(number(channel.coil_setting_idx));
    if (channel.coil_setting_idx >= c.settings.size()) return text + " (does not exist)";
    return text + " (" + float_text(c.settings[channel.coil_setting_idx].carrier_frequency) + " kHz)";
}

void channel_rows(Html& html, const Settings& s, char letter, const ChannelSettings& channel) {
    const std::string name(1, letter);
    html.row("channel " + name, std::string(channel.enabled ? "enabled, " : "disabled, ") + coil(s, channel));
    html.row(name + "1", source(s, channel.amplitude1_source));
    html.row(name + "2", source(s, channel.amplitude2_source));
    html.row(name + " modulation", source(s, channel.modulation_source));
}

}  // namespace

std::string html_summary(const Settings& s) {
    Html html;
    html.tag("<div class=\"pyvora-protocol\"><table>");
    html.tag("<caption style=\"text-align:left\"><b>pyvora Protocol</b></caption>");
    const std::string samples = s.session_duration > 0.0 ? number(sig::num_samples(s.session_duration)) : "no";
    html.row("duration", float_text(s.session_duration) + " s (" + samples + " samples)");
    const double limit = s.machine_config.max_intensity_setpoint;
    html.row("intensity",
             float_text(s.intensity) + (s.intensity > limit ? " (above" : " (within") +
                 " the machine's max_intensity_setpoint " + float_text(limit) + ")",
             s.intensity > limit);
    html.tag("</table><table><tr><th>signal</th><th>kind</th><th style=\"text-align:left\">parameters</th></tr>");
    for (std::size_t i = 0; i < s.signals.size(); ++i) {
        html.tag("<tr><td>") << number(i);
        html.tag("</td><td>") << sig::Signal::kind_names[s.signals[i].params.index()];
        html.tag("</td><td style=\"text-align:left\">") << parameters(s.signals[i]);
        html.tag("</td></tr>");
    }
    if (s.signals.empty()) html.tag("<tr><td colspan=\"3\">none (saving adds the constant 0.0)</td></tr>");
    html.tag("</table><table>");
    channel_rows(html, s, 'A', s.channel_a_settings);
    channel_rows(html, s, 'B', s.channel_b_settings);
    html.tag("</table>");
    const auto problems = check::find_problems(s);
    if (problems.empty()) {
        html.tag("<p>No problems found.</p>");
    } else {
        html.tag("<p style=\"color:#b00020\">Problems:</p><ul>");
        for (const auto& problem : problems) {
            html.tag("<li>") << problem;
            html.tag("</li>");
        }
        html.tag("</ul>");
    }
    html.tag("</div>");
    return std::move(html).take();
}

}  // namespace protocols::text
