#include "protocols/check/problems.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>

#include "protocols/field_path.hpp"
#include "protocols/file/record_encoding.hpp"
#include "protocols/record.hpp"
#include "protocols/text/float_text.hpp"

namespace protocols::check {
namespace {

using settings::ChannelSettings;
using settings::Settings;
using settings::SignalSourceSelection;
namespace sig = protocols::signals;

std::string number(std::uint64_t n) { return std::to_string(n); }

std::string number(double x) { return text::float_text(x); }

// "1 signal", "2 signals".
std::string count_of(std::uint64_t n, std::string_view one, std::string_view many) {
    return number(n).append(" ").append(n == 1 ? one : many);
}

// Whether a field handed over by a `fields` walk is the given member. The rules name the
// members they judge; the walk supplies names and order.
template <class Field, class Member>
bool is(const Field& field, const Member& member) {
    if constexpr (std::is_same_v<Field, Member>) {
        return &field == &member;
    } else {
        return false;
    }
}

// For each signal, the number of its strongly connected component in the graph of mixed
// signals and the signals they name. A mixed signal refers to itself through others exactly
// when one it names shares its component. Tarjan's algorithm, run with an explicit stack so a
// long chain of mixed signals cannot exhaust the call stack.
std::vector<std::size_t> components(const sig::SignalTable& table) {
    const std::size_t n = table.size();
    const std::size_t none = n;  // no edge, and not yet visited
    std::vector<std::array<std::size_t, 2>> edges(n, {none, none});
    for (std::size_t i = 0; i < n; ++i) {
        if (const auto* mixed = std::get_if<sig::MixedSignalParams>(&table[i].params)) {
            edges[i] = {mixed->a_idx < n ? mixed->a_idx : none, mixed->b_idx < n ? mixed->b_idx : none};
        }
    }
    std::vector<std::size_t> order(n, none), low(n), component(n, none), stack;
    std::vector<std::pair<std::size_t, std::size_t>> calls;  // (signal, next edge)
    std::size_t visited = 0, found = 0;
    const auto enter = [&](std::size_t v) {
        order[v] = low[v] = visited++;
        stack.push_back(v);
        calls.emplace_back(v, 0);
    };
    for (std::size_t root = 0; root < n; ++root) {
        if (order[root] != none) continue;
        enter(root);
        while (!calls.empty()) {
            auto& [v, next] = calls.back();
            if (next < 2) {
                const std::size_t w = edges[v][next++];
                if (w == none) continue;
                if (order[w] == none) {
                    enter(w);  // `v` and `next` may dangle from here on
                } else if (component[w] == none) {
                    low[v] = std::min(low[v], order[w]);  // w is on the stack
                }
                continue;
            }
            const std::size_t done = v;
            calls.pop_back();
            if (low[done] == order[done]) {
                std::size_t w;
                do {
                    w = stack.back();
                    stack.pop_back();
                    component[w] = found;
                } while (w != done);
                ++found;
            }
            if (!calls.empty()) {
                const std::size_t parent = calls.back().first;
                low[parent] = std::min(low[parent], low[done]);
            }
        }
    }
    return component;
}

// A visitor of the walk (record.hpp): each rule sits beside the member it judges, found by the
// record that holds it; the walk supplies names, order and the path.
class Checker {
public:
    FieldPath path;

    // `s` as saving writes it; `table_was_empty` tells the messages that its one signal is the
    // one saving adds.
    Checker(const Settings& s, bool table_was_empty)
        : s_(s), table_size_(s.signals.size()), table_was_empty_(table_was_empty) {
        if (s.session_duration > 0.0) expected_samples_ = sig::num_samples(s.session_duration);
    }

    std::vector<Problem> run() && {
        walk(*this, s_);
        return std::move(problems_);
    }

    template <Scalar T>
    void scalar(const T&) {}
    void text(const std::string&) {}
    void samples(const sig::Samples&) {}
    template <class L>
    void list(const L& items) {
        each(*this, items, [&](const auto& item, std::size_t) { protocols::visit(*this, item); });
    }
    template <Record R>
    void record(const R& record) {
        walk(*this, record);
    }
    void record(const ChannelSettings& channel) {
        if (channel.enabled) walk(*this, channel);
    }

    void list(const sig::SignalTable& table) {
        const bool any_mixed = std::ranges::any_of(table, [](const sig::Signal& signal) {
            return std::holds_alternative<sig::MixedSignalParams>(signal.params);
        });
        if (any_mixed) component_ = components(table);
        each(*this, table, [&](const sig::Signal& signal, std::size_t i) {
            signal_ = i;
            walk_signal(*this, signal);
        });
    }
    void kind(const sig::Signal&) {}

    template <class R, class T>
    void field(const R&, std::string_view, const T& member) {
        protocols::visit(*this, member);
    }

    void field(const Settings& settings, std::string_view, const double& value) {
        const double limit = settings.machine_config.max_intensity_setpoint;
        if (is(value, settings.intensity) && value > limit) {
            report(number(value) + " is above machine_config.max_intensity_setpoint " + number(limit));
        }
    }

    // Every measured value of the machine description, its coils and their tuning tables
    // included, must be a finite number.
    void field(const machine_config::MachineConfig&, std::string_view, const double& value) { finite(value); }

    // The stimulator's own checks are a safety net no protocol should run without.
    void field(const machine_config::MachineConfig& machine, std::string_view, const bool& value) {
        if (is(value, machine.safety_checks_enabled) && !value) {
            report("false: the stimulator will not apply its own safety checks");
        }
    }

    // A coil's tuning table is judged against the coil it belongs to.
    void record(const lcsettings::Coil& coil) {
        coil_ = &coil;
        walk(*this, coil);
    }

    void field(const lcsettings::Coil& coil, std::string_view, const double& value) {
        if (!finite(value) || !is(value, coil.max_carrier_frequency)) return;
        const double machine = s_.machine_config.max_carrier_frequency;
        if (value > machine) report(number(value) + " is above machine_config.max_carrier_frequency " + number(machine));
    }

    // A tuning entry holds what the tuning rule gives for its capacitance on its coil: an entry
    // edited by hand would drive the coil at a frequency nobody computed.
    void field(const lcsettings::LCSetting& entry, std::string_view, const double& value) {
        if (!finite(value) || !is(value, entry.carrier_frequency)) return;
        if (const auto tuned = tuned_entry(entry); tuned && value != tuned->carrier_frequency) {
            report(number(value) + ", but " + tuning_of(entry) + " give " + number(tuned->carrier_frequency));
        }
    }
    void field(const lcsettings::LCSetting& entry, std::string_view, const std::uint64_t& value) {
        if (is(value, entry.clk_ticks_per_sample)) {
            if (const auto tuned = tuned_entry(entry); tuned && value != tuned->clk_ticks_per_sample) {
                report(number(value) + ", but " + tuning_of(entry) + " give " + number(tuned->clk_ticks_per_sample));
            }
        } else if (is(value, entry.capacitor_bank_setting) && value == 0) {
            report("0, but positions in the list of candidate capacitances start at 1");
        }
    }
    void field(const machine_config::MachineConfig&, std::string_view, const std::vector<double>& values) {
        each(*this, values, [&](const double& value, std::size_t) {
            if (!std::isfinite(value)) report(number(value) + " is not finite");
        });
    }

    // Constant, sine and ramp parameters: whatever their unit, a NaN or an infinity is no
    // setting, and a frequency or a ramp's duration cannot be negative.
    template <SignalParams Params>
    void field(const Params& params, std::string_view, const double& value) {
        if (!std::isfinite(value)) {
            report(number(value) + " is not finite");
        } else if (value < 0.0 && never_negative(params, value)) {
            report(number(value) + " is negative");
        }
    }

    void field(const sig::MixedSignalParams&, std::string_view, const std::uint64_t& target) {
        const std::size_t self = signal_;
        if (target >= table_size_) {
            report(missing_signal(target));
        } else if (target == self) {
            report("mixed signal " + number(self) + " refers to itself");
        } else if (component_[target] == component_[self]) {
            report("mixed signal " + number(self) + " refers to itself through signal " + number(target));
        }
    }

    void field(const sig::ArbitrarySignalParams&, std::string_view, const sig::Samples& samples) {
        if (!expected_samples_ || samples.size() == *expected_samples_) return;
        report(count_of(samples.size(), "sample", "samples") + ", but the session of " +
               number(s_.session_duration) + " s has " + number(*expected_samples_));
    }

    void field(const ChannelSettings& channel, std::string_view, const std::uint64_t& field) {
        const std::size_t coils = s_.machine_config.coils.size();
        if (is(field, channel.coil_idx)) {
            if (channel.coil_idx >= coils) {
                report("coil " + number(channel.coil_idx) + " does not exist; the machine has " +
                       count_of(coils, "coil", "coils"));
            }
        } else if (is(field, channel.coil_setting_idx)) {
            if (channel.coil_idx >= coils) return;  // reported above
            const std::size_t entries = s_.machine_config.coils[channel.coil_idx].settings.size();
            if (channel.coil_setting_idx >= entries) {
                report("tuning entry " + number(channel.coil_setting_idx) + " does not exist; coil " +
                       number(channel.coil_idx) + " has " + count_of(entries, "entry", "entries"));
                return;
            }
            const lcsettings::Coil& coil = s_.machine_config.coils[channel.coil_idx];
            const double carrier = coil.settings[channel.coil_setting_idx].carrier_frequency;
            const std::string entry = "tuning entry " + number(channel.coil_setting_idx) + " of coil " +
                                      number(channel.coil_idx) + " runs at " + number(carrier) + " kHz, above ";
            if (carrier > coil.max_carrier_frequency) {
                report(entry + "machine_config.coils[" + number(channel.coil_idx) + "].max_carrier_frequency " +
                       number(coil.max_carrier_frequency));
            }
            if (carrier > s_.machine_config.max_carrier_frequency) {
                report(entry + "machine_config.max_carrier_frequency " + number(s_.machine_config.max_carrier_frequency));
            }
        }
    }

    // Only the selection in force is judged; the other one holds 0 and means nothing.
    void field(const SignalSourceSelection& selection, std::string_view, const std::uint64_t& field) {
        if (is(field, selection.internal) && !selection.external_selected) {
            if (selection.internal >= table_size_) report(missing_signal(selection.internal));
        } else if (is(field, selection.external) && selection.external_selected) {
            const std::uint64_t inputs = s_.machine_config.num_external_signal_sources;
            if (selection.external >= inputs) {
                report("external input " + number(selection.external) + " does not exist; the machine has " +
                       count_of(inputs, "external input", "external inputs"));
            }
        }
    }

private:
    void report(std::string_view what) {
        std::string text = path.text();
        const std::size_t length = text.size();
        problems_.push_back(Problem{std::move(text.append(": ").append(what)), length});
    }

    bool finite(double value) {
        if (std::isfinite(value)) return true;
        report(number(value) + " is not finite");
        return false;
    }

    // What the coil's own tuning computation gives for an entry; none when the coil's inductance
    // or the entry's capacitance is no number to tune with (reported as not finite).
    std::optional<lcsettings::LCSetting> tuned_entry(const lcsettings::LCSetting& entry) const {
        if (coil_ == nullptr || !std::isfinite(coil_->inductance) || !std::isfinite(entry.capacitance)) {
            return std::nullopt;
        }
        return lcsettings::tune(coil_->inductance, entry.capacitance, entry.capacitor_bank_setting);
    }
    std::string tuning_of(const lcsettings::LCSetting& entry) const {
        return "capacitance " + number(entry.capacitance) + " and the coil's inductance " + number(coil_->inductance);
    }

    std::string missing_signal(std::uint64_t position) const {
        std::string text = "signal " + number(position) + " does not exist; ";
        if (table_was_empty_) return text + "the table is empty (save adds 1 signal, the constant 0.0)";
        return text + "the table has " + count_of(table_size_, "signal", "signals");
    }

    static bool never_negative(const sig::SineSignalParams& sine, const double& field) {
        return is(field, sine.frequency);
    }
    static bool never_negative(const sig::RampSignalParams& ramp, const double& field) {
        return is(field, ramp.up_duration) || is(field, ramp.down_duration);
    }
    static bool never_negative(const sig::ConstantSignalParams&, const double&) { return false; }

    const Settings& s_;
    const std::uint64_t table_size_;
    const bool table_was_empty_;
    std::optional<std::uint64_t> expected_samples_;
    std::vector<std::size_t> component_;
    std::size_t signal_ = 0;  // the position of the signal being walked
    const lcsettings::Coil* coil_ = nullptr;  // the coil whose tuning table is being walked
    std::vector<Problem> problems_;
};

}  // namespace

std::vector<Problem> problems(const settings::Settings& settings) {
    // Judged as it will run: as saving writes it, an empty table filled.
    std::optional<Settings> filled;
    return Checker(file::as_saved(settings, filled), settings.signals.empty()).run();
}

std::vector<std::string> find_problems(const settings::Settings& settings) {
    std::vector<Problem> found = problems(settings);
    std::vector<std::string> texts;
    texts.reserve(found.size());
    for (Problem& problem : found) texts.push_back(std::move(problem.text));
    return texts;
}

}  // namespace protocols::check
