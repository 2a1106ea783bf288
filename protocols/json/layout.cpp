#include "protocols/json/layout.hpp"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <variant>

#include "protocols/record.hpp"
#include "protocols/settings.hpp"

namespace protocols::json {
namespace {

namespace sig = protocols::signals;
using Listing = std::vector<std::pair<std::string, std::string>>;

class Lister {
public:
    explicit Lister(Listing& out) : out_(out) {}

    void scalar(const bool&, const std::string& at) { add(at, "flag"); }
    void scalar(const std::uint64_t&, const std::string& at) { add(at, "number"); }
    void scalar(const double&, const std::string& at) { add(at, "number"); }
    void text(const std::string&, const std::string& at) { add(at, "text"); }
    void samples(const sig::Samples&, const std::string& at) {
        add(at, "samples");
        add(at + "[*]", "number");
    }
    template <class L>
    void list(const L&, const std::string& at) {
        add(at, "list");
        const typename L::value_type item{};
        protocols::visit(*this, item, at + "[*]");
    }
    template <Record R>
    void record(const R& record, const std::string& at) {
        add(at, "record");
        walk(*this, record, at);
    }
    template <class R, class T>
    void field(const R&, std::string_view name, const T& member, const std::string& at) {
        protocols::visit(*this, member, at.empty() ? std::string(name) : at + "." + std::string(name));
    }
    void signal(const sig::Signal&, const std::string& at) {
        add(at, "record");
        [&]<std::size_t... I>(std::index_sequence<I...>) {
            (kind_fields(sig::Signal{sig::Signal::Params(std::in_place_index<I>)}, at), ...);
        }(std::make_index_sequence<std::variant_size_v<sig::Signal::Params>>{});
    }
    void kind_fields(const sig::Signal& signal, const std::string& at) { walk_signal(*this, signal, at); }
    void kind(const sig::Signal&, const std::string& at) { add(at + "." + std::string(kind_field), "text"); }

private:
    void add(const std::string& path, const char* kind) {
        const auto listed = [&](const auto& entry) { return entry.first == path; };
        if (std::find_if(out_.begin(), out_.end(), listed) == out_.end()) out_.emplace_back(path, kind);
    }
    Listing& out_;
};

}  // namespace

const Listing& layout() {
    static const Listing listing = [] {
        Listing out;
        Lister lister(out);
        const settings::Settings settings{};
        protocols::visit(lister, settings, std::string());
        return out;
    }();
    return listing;
}

std::size_t layout_depth() {
    static const std::size_t depth = [] {
        std::size_t deepest = 0;
        for (const auto& [path, kind] : layout()) {
            if (kind != "record" && kind != "list" && kind != "samples") continue;
            // One level for the whole, one for each name and each position on the path.
            std::size_t levels = 1 + static_cast<std::size_t>(std::count(path.begin(), path.end(), '[')) +
                                 static_cast<std::size_t>(std::count(path.begin(), path.end(), '.')) + !path.empty();
            deepest = std::max(deepest, levels);
        }
        return deepest;
    }();
    return depth;
}

}  // namespace protocols::json
