#include "protocols/view/overview.hpp"

#include <charconv>
#include <deque>
#include <optional>
#include <system_error>
#include <type_traits>
#include <unordered_set>
#include <utility>
#include <variant>

#include "protocols/check/problems.hpp"
#include "protocols/text/renderer.hpp"

namespace protocols::view {
namespace {

using settings::ChannelSettings;
using settings::Settings;
using settings::SignalSourceSelection;
namespace sig = protocols::signals;

// Every value as the text form writes it; sample lists by their count and range.
template <class T>
std::string text_of(const T& value) {
    return text::render_value(value, 0, text::SampleLists::range);
}

std::string count_of(std::uint64_t n, std::string_view one, std::string_view many) {
    return text_of(n).append(" ").append(n == 1 ? one : many);
}

// The kinds' names in the views' words, in the order of Signal::kind_names.
constexpr std::array<std::string_view, 5> view_kind_names = {"constant", "sine", "ramp", "mixed", "arbitrary"};
static_assert(view_kind_names.size() == sig::Signal::kind_names.size());

std::string signal_text(const sig::Signal& signal, std::uint64_t position, bool added_by_save) {
    std::string out(view_kind_names[signal.params.index()]);
    out.append(" #").append(text_of(position)).append(": ");
    std::visit(
        [&]<class P>(const P& params) {
            if constexpr (std::is_same_v<P, sig::MixedSignalParams>) {
                out.append("mix of #").append(text_of(params.a_idx)).append(" and #").append(text_of(params.b_idx));
            } else if constexpr (std::is_same_v<P, sig::ArbitrarySignalParams>) {
                // "<2500 samples, min 0, max 32767>" without its brackets.
                const std::string summary = text_of(params.samples);
                out.append(summary, 1, summary.size() - 2);
            } else {
                bool first = true;
                P::fields(params, [&](std::string_view name, const auto& value) {
                    if (!first) out += ", ";
                    first = false;
                    out.append(name).append(" ").append(text_of(value));
                });
                if (added_by_save) out += " (the signal save() adds to an empty table)";
            }
        },
        signal.params);
    return out;
}

std::string missing_signal(std::uint64_t position) { return "signal #" + text_of(position) + " does not exist"; }

std::string coil_text(const Settings& s, const ChannelSettings& channel) {
    const auto& coils = s.machine_config.coils;
    if (channel.coil_idx >= coils.size()) return "coil #" + text_of(channel.coil_idx) + " does not exist";
    const lcsettings::Coil& coil = coils[channel.coil_idx];
    std::string out = "coil " + text_of(coil.name);
    if (channel.coil_setting_idx >= coil.settings.size()) {
        return out + ", tuning entry #" + text_of(channel.coil_setting_idx) + " does not exist";
    }
    const lcsettings::LCSetting& entry = coil.settings[channel.coil_setting_idx];
    return out + ", " + text_of(entry.capacitance) + " nF, carrier " + text_of(entry.carrier_frequency) + " kHz";
}

std::string external_text(std::uint64_t input, std::uint64_t inputs) {
    std::string out = "external input " + text_of(input);
    if (input < inputs) return out;
    out += " does not exist: the machine has ";
    if (inputs == 0) return out + "none";
    return out + text_of(inputs) + " (0 to " + text_of(inputs - 1) + ")";
}

// Every signal that `start` reaches through mixes, `start` first, then in the order met (its
// parts, then theirs), each once however often the mixes name it: cycles end there.
std::vector<Reached> resolve(const Overview& o, std::uint64_t start, const sig::SignalTable& table) {
    std::vector<Reached> out;
    std::vector<bool> met(table.size(), false);
    std::deque<std::uint64_t> next{start};
    std::unordered_set<std::uint64_t> missing;  // positions past the table, each listed once
    while (!next.empty()) {
        const std::uint64_t position = next.front();
        next.pop_front();
        if (position >= table.size()) {
            if (missing.insert(position).second) out.push_back(Reached{position, false, missing_signal(position)});
            continue;
        }
        if (met[position]) continue;
        met[position] = true;
        out.push_back(Reached{position, true, o.signals[position].text});
        if (const auto* mixed = std::get_if<sig::MixedSignalParams>(&table[position].params)) {
            next.push_back(mixed->a_idx);
            next.push_back(mixed->b_idx);
        }
    }
    return out;
}

// The position N of a path inside `signals[N]`, if it is one.
std::optional<std::uint64_t> signal_named(std::string_view path) {
    constexpr std::string_view head = "signals[";
    if (!path.starts_with(head)) return std::nullopt;
    const char* const first = path.data() + head.size();
    const char* const last = path.data() + path.size();
    std::uint64_t position = 0;
    const auto [end, error] = std::from_chars(first, last, position);
    if (error != std::errc{} || end == first || end == last || *end != ']') return std::nullopt;
    if (end + 1 != last && end[1] != '.' && end[1] != '[') return std::nullopt;
    return position;
}

struct RowPlace {
    std::string_view label;
    std::string_view channel;
    std::size_t channel_index;
    std::string_view field;
    SignalSourceSelection ChannelSettings::*source;
};

constexpr std::array<RowPlace, 6> row_places = {{
    {"A1", "channel_a_settings", 0, "amplitude1_source", &ChannelSettings::amplitude1_source},
    {"A2", "channel_a_settings", 0, "amplitude2_source", &ChannelSettings::amplitude2_source},
    {"A modulation", "channel_a_settings", 0, "modulation_source", &ChannelSettings::modulation_source},
    {"B1", "channel_b_settings", 1, "amplitude1_source", &ChannelSettings::amplitude1_source},
    {"B2", "channel_b_settings", 1, "amplitude2_source", &ChannelSettings::amplitude2_source},
    {"B modulation", "channel_b_settings", 1, "modulation_source", &ChannelSettings::modulation_source},
}};

}  // namespace

bool names(std::string_view path, std::string_view prefix) noexcept {
    return path.starts_with(prefix) &&
           (path.size() == prefix.size() || path[prefix.size()] == '.' || path[prefix.size()] == '[');
}

Overview overview(const Settings& settings, std::span<const Mark> findings) {
    Overview o;
    // Shown as it will run: as saving writes it, an empty table filled.
    std::optional<Settings> filled;
    const Settings& s = settings::as_saved(settings, filled);
    o.added_by_save = settings.signals.empty();

    const double limit = s.machine_config.max_intensity_setpoint;
    o.intensity_above = s.intensity > limit;
    o.facts[0] = {"intensity", text_of(s.intensity) + (o.intensity_above ? " (above" : " (within") +
                                   " the machine's limit max_intensity_setpoint " + text_of(limit) + ")"};
    const std::uint64_t samples = s.session_duration > 0.0 ? sig::num_samples(s.session_duration) : 0;
    o.facts[1] = {"session", text_of(s.session_duration) + " s, " + text_of(samples) + " samples at " +
                                 text_of(sig::SAMPLING_RATE) + " samples/s"};
    const std::array<const ChannelSettings*, 2> channels = {&s.channel_a_settings, &s.channel_b_settings};
    o.facts[2] = {"channel A", coil_text(s, *channels[0])};
    o.facts[3] = {"channel B", coil_text(s, *channels[1])};
    for (std::size_t c = 0; c < 2; ++c) o.enabled[c] = channels[c]->enabled;

    o.signals.reserve(s.signals.size());
    for (std::size_t i = 0; i < s.signals.size(); ++i) {
        const sig::Signal& signal = s.signals[i];
        SignalText entry{sig::Signal::kind_names[signal.params.index()], signal_text(signal, i, o.added_by_save), {}};
        if (const auto* arbitrary = std::get_if<sig::ArbitrarySignalParams>(&signal.params);
            arbitrary != nullptr && arbitrary->samples.size() != samples) {
            const std::uint64_t count = arbitrary->samples.size();
            entry.note = "length mismatch: " + count_of(count, "sample", "samples") + " (" +
                         text_of(static_cast<double>(count) / sig::SAMPLING_RATE) + " s), the session has " +
                         text_of(samples) + " (" + text_of(s.session_duration) + " s)";
        }
        o.signals.push_back(std::move(entry));
    }

    for (check::Problem& problem : check::problems(settings)) {
        const std::size_t length = problem.path_length;
        o.marks.push_back(Mark{problem.text.substr(0, length), std::move(problem.text), false});
    }
    o.problem_count = o.marks.size();
    o.marks.insert(o.marks.end(), findings.begin(), findings.end());

    // Each mark's signal, found once: a protocol may hold many signals and many problems.
    std::vector<std::optional<std::uint64_t>> named;
    named.reserve(o.marks.size());
    for (const Mark& mark : o.marks) named.push_back(signal_named(mark.path));
    std::vector<bool> reached(s.signals.size());

    const std::uint64_t inputs = s.machine_config.num_external_signal_sources;
    for (std::size_t r = 0; r < row_places.size(); ++r) {
        const RowPlace& place = row_places[r];
        const ChannelSettings& channel = *channels[place.channel_index];
        const SignalSourceSelection& source = channel.*place.source;
        Row& row = o.rows[r];
        row.label = place.label;
        row.path = std::string(place.channel).append(".").append(place.field);
        row.channel = place.channel_index;
        row.enabled = channel.enabled;
        row.external = source.external_selected;
        if (row.external) {
            row.position = source.external;
            row.exists = source.external < inputs;
            row.text = external_text(source.external, inputs);
        } else {
            row.position = source.internal;
            row.exists = source.internal < s.signals.size();
            if (row.exists) {
                row.drive = resolve(o, source.internal, s.signals);
                row.text = row.drive.front().text;
            } else {
                row.text = missing_signal(source.internal) + ": the table has " +
                           count_of(s.signals.size(), "signal", "signals");
            }
        }
        for (const Reached& part : row.drive) {
            if (part.exists) reached[part.position] = true;
        }
        for (std::size_t m = 0; m < o.marks.size(); ++m) {
            const bool in_drive = named[m] && *named[m] < reached.size() && reached[*named[m]];
            if (in_drive || names(o.marks[m].path, row.path)) row.marks.push_back(m);
        }
        for (const Reached& part : row.drive) {
            if (part.exists) reached[part.position] = false;
        }
    }
    for (std::size_t m = 0; m < o.marks.size(); ++m) {
        if (names(o.marks[m].path, "intensity")) o.intensity_marks.push_back(m);
    }
    return o;
}

}  // namespace protocols::view
