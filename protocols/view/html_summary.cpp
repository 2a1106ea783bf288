#include "protocols/view/html_summary.hpp"

#include <string_view>
#include <vector>

namespace protocols::view {
namespace {

constexpr std::string_view problem_colour = "#b00020";
constexpr std::string_view warning_colour = "#c77800";
constexpr std::string_view grey = "#8c8c8c";  // a disabled channel's rows

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
    // <td> in a colour, or plain for an empty one.
    Html& cell(std::string_view colour) {
        if (colour.empty()) return tag("<td style=\"text-align:left\">");
        return tag("<td style=\"text-align:left;color:").tag(colour).tag("\">");
    }
    std::string take() && { return std::move(out_); }

private:
    std::string out_;
};

// The colour of what the marks say: red for a problem or an error, amber for warnings only.
std::string_view colour_of(const Overview& o, const std::vector<std::size_t>& marks) {
    if (marks.empty()) return {};
    for (const std::size_t m : marks) {
        if (!o.marks[m].warning) return problem_colour;
    }
    return warning_colour;
}

void mark_list(Html& html, const Overview& o, const std::vector<std::size_t>& marks) {
    if (marks.empty()) return;
    html.tag("<ul>");
    for (const std::size_t m : marks) {
        html.tag("<li>") << o.marks[m].text;
        html.tag("</li>");
    }
    html.tag("</ul>");
}

void fact_row(Html& html, const Fact& fact, std::string_view colour) {
    html.tag("<tr><th style=\"text-align:left\">") << fact.head;
    html.tag("</th>").cell(colour) << fact.text;
}

void row(Html& html, const Overview& o, const Row& r) {
    const std::string_view marked = colour_of(o, r.marks);
    std::string_view colour = r.enabled ? marked : grey;
    if (r.enabled && marked.empty() && !r.exists) colour = problem_colour;
    html.tag("<tr><th style=\"text-align:left\">") << r.label;
    if (!r.enabled) html << " (disabled)";
    html.tag("</th>").cell(colour) << r.text;
    // The parts the source's mixes reach, down to the signals they end in.
    if (r.drive.size() > 1) {
        html.tag("<ul>");
        for (std::size_t i = 1; i < r.drive.size(); ++i) {
            html.tag("<li>") << r.drive[i].text;
            html.tag("</li>");
        }
        html.tag("</ul>");
    }
    mark_list(html, o, r.marks);
    html.tag("</td></tr>");
}

void listed(Html& html, const Overview& o, std::size_t from, std::size_t to, std::string_view none,
            std::string_view heading) {
    if (from == to) {
        html.tag("<p>") << none;
        html.tag("</p>");
        return;
    }
    bool warnings_only = true;
    for (std::size_t m = from; m < to; ++m) warnings_only = warnings_only && o.marks[m].warning;
    html.tag("<p style=\"color:").tag(warnings_only ? warning_colour : problem_colour).tag("\">") << heading;
    html.tag("</p><ul>");
    for (std::size_t m = from; m < to; ++m) {
        html.tag(o.marks[m].warning ? "<li style=\"color:#c77800\">" : "<li>") << o.marks[m].text;
        html.tag("</li>");
    }
    html.tag("</ul>");
}

}  // namespace

std::string html_summary(const Overview& o) {
    Html html;
    html.tag("<div class=\"pyvora-protocol\"><table>");
    html.tag("<caption style=\"text-align:left\"><b>pyvora Protocol</b></caption>");
    const std::string_view marked = colour_of(o, o.intensity_marks);
    fact_row(html, o.facts[0], o.intensity_above ? problem_colour : marked);
    mark_list(html, o, o.intensity_marks);
    html.tag("</td></tr>");
    for (std::size_t i = 1; i < o.facts.size(); ++i) {
        fact_row(html, o.facts[i], {});
        if (i >= 2 && !o.enabled[i - 2]) html << " (channel disabled)";
        html.tag("</td></tr>");
    }
    html.tag("</table><table><tr><th style=\"text-align:left\">signal</th><th>kind</th></tr>");
    for (const SignalText& signal : o.signals) {
        html.tag("<tr>").cell(signal.note.empty() ? std::string_view{} : problem_colour) << signal.text;
        if (!signal.note.empty()) html << "; " << signal.note;
        html.tag("</td><td>") << signal.kind;
        html.tag("</td></tr>");
    }
    html.tag("</table><table>");
    for (const Row& r : o.rows) row(html, o, r);
    html.tag("</table>");
    listed(html, o, 0, o.problem_count, "No problems found.", "Problems:");
    if (o.marks.size() > o.problem_count) listed(html, o, o.problem_count, o.marks.size(), "", "Findings:");
    html.tag("</div>");
    return std::move(html).take();
}

}  // namespace protocols::view
