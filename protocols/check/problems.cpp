#include "protocols/check/problems.hpp"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "protocols/field_path.hpp"
#include "protocols/record.hpp"
#include "protocols/rules/protocol_rules.hpp"
#include "protocols/walker.hpp"

namespace protocols::check {
namespace {

using settings::ChannelSettings;
using settings::Settings;
using settings::SignalSourceSelection;
namespace sig = protocols::signals;

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

// Measured values, whatever their unit, must be numbers: the machine description's, its coils'
// and their tuning tables', and the parameters of constant, sine and ramp signals.
template <class R>
inline constexpr bool measured = std::same_as<R, machine_config::MachineConfig> || std::same_as<R, lcsettings::Coil> ||
                                 std::same_as<R, lcsettings::LCSetting> || SignalParams<R>;

// A visitor of the walk (walker.hpp) that applies the reported rules (rules/protocol_rules.hpp)
// to each member; the walk supplies names, order, descent and the path, the visitor where it is.
class Checker : public Walker<Checker> {
public:
    FieldPath path;

    // `s` as saving writes it; `table_was_empty` tells the messages that its one signal is the
    // one saving adds.
    Checker(const Settings& s, bool table_was_empty) : c_(s) {
        c_.table_size = s.signals.size();
        c_.table_was_empty = table_was_empty;
        if (s.session_duration > 0.0) c_.expected_samples = sig::num_samples(s.session_duration);
    }

    std::vector<Problem> run() && {
        walk(*this, c_.s);
        return std::move(problems_);
    }

    template <Scalar T>
    void scalar(const T&) {}
    void text(const std::string&) {}
    void samples(const sig::Samples&) {}

    using Walker::record;
    // Only what runs is judged: a disabled channel's sources and coil are not.
    void record(const ChannelSettings& channel) {
        if (channel.enabled) walk(*this, channel);
    }
    // A coil's tuning table is judged against the coil it belongs to.
    void record(const lcsettings::Coil& coil) {
        c_.coil = &coil;
        walk(*this, coil);
    }

    using Walker::list;
    void list(const sig::SignalTable& table) {
        const bool any_mixed = std::ranges::any_of(table, [](const sig::Signal& signal) {
            return std::holds_alternative<sig::MixedSignalParams>(signal.params);
        });
        if (any_mixed) c_.component = components(table);
        each(*this, table, [&](const sig::Signal& signal, std::size_t i) {
            c_.signal = i;
            this->signal(signal);
        });
    }
    void kind(const sig::Signal&) {}

    template <class R, class T>
    void field(const R& record, std::string_view, const T& member) {
        if constexpr (measured<R> && std::same_as<T, double>) {
            const bool finite = rules::finite_rule(member, found_);
            report();
            if (!finite) return;
        } else if constexpr (measured<R> && std::same_as<T, std::vector<double>>) {
            each(*this, member, [&](const double& value, std::size_t) {
                rules::finite_rule(value, found_);
                report();
            });
            return;
        }
        rules::check_member(c_, record, member, found_);
        report();
        protocols::visit(*this, member);
    }

private:
    // What the rules found at the current field, under its path.
    void report() {
        if (found_.empty()) return;
        const std::string at = path.text();
        for (std::string& what : found_) problems_.push_back(Problem{at + ": " + what, at.size()});
        found_.clear();
    }

    rules::Context c_;
    rules::Found found_;
    std::vector<Problem> problems_;
};

}  // namespace

std::vector<Problem> problems(const settings::Settings& settings) {
    // Judged as it will run: as saving writes it, an empty table filled.
    std::optional<Settings> filled;
    return Checker(settings::as_saved(settings, filled), settings.signals.empty()).run();
}

std::vector<std::string> find_problems(const settings::Settings& settings) {
    std::vector<Problem> found = problems(settings);
    std::vector<std::string> texts;
    texts.reserve(found.size());
    for (Problem& problem : found) texts.push_back(std::move(problem.text));
    return texts;
}

}  // namespace protocols::check
