#include "protocols/file/record_decoding.hpp"

#include <algorithm>
#include <concepts>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "encoding/decoder.hpp"
#include "protocols/field_path.hpp"
#include "protocols/file/record_encoding.hpp"
#include "protocols/record.hpp"
#include "protocols/rules/data_refusals.hpp"
#include "protocols/utf8.hpp"
#include "protocols/walker.hpp"

namespace protocols::file {
namespace {

using encoding::DecodeProblem;
using settings::Settings;
using rules::field_problem;
using rules::sample_allowed;
using rules::sample_count_problem;
using rules::sample_problem;

[[noreturn]] void refuse(std::string what, std::size_t at,
                         std::size_t element = DecodeProblem::no_element) {
    throw DecodeProblem{std::move(what), at, element};
}

// The bytes one signal of the given kind and parameters takes.
std::size_t signal_size(const signals::Signal::Params& params) {
    SizeCounter counter;
    encode_signal(counter, signals::Signal{params});
    return counter.size();
}

// The fewest bytes one element of type T takes in a file: the encoding of its emptiest value
// (zero numbers, empty texts and lists), measured by the encoder itself. A signal's emptiest
// kind is an arbitrary signal with no samples.
template <class T>
std::size_t min_encoded_size() {
    if constexpr (std::same_as<T, signals::Signal>) {
        using Params = signals::Signal::Params;
        return []<std::size_t... I>(std::index_sequence<I...>) {
            return std::min({signal_size(Params(std::in_place_index<I>))...});
        }(std::make_index_sequence<std::variant_size_v<Params>>{});
    } else {
        SizeCounter counter;
        encode_value(counter, T{});
        return counter.size();
    }
}

// Reads each kind back exactly as FileWriter writes it. The field being read is kept outside
// the call stack (the walk keeps `path`), so that it still names the failing field after a
// problem has been thrown out of the walk. Records, flags and signals are Walker's descent.
struct FileReader : Walker<FileReader> {
    explicit FileReader(std::span<const std::uint8_t> bytes) noexcept : in(bytes) {}

    encoding::Decoder in;
    FieldPath path;

    void scalar(bool& value) { value = in.take_bool(); }
    void scalar(std::uint64_t& value) { value = in.take_varint(); }
    void scalar(double& value) { value = in.take_f64(); }

    void text(std::string& text) {
        const std::uint64_t length = in.take_count(1);
        const std::size_t at = in.offset();
        const std::string_view bytes = in.take_bytes(static_cast<std::size_t>(length));
        if (!utf8::valid(bytes)) refuse("invalid UTF-8", at);
        text.assign(bytes);
    }

    void samples(signals::Samples& samples) {
        const std::size_t at = in.offset();
        const std::uint64_t count = in.take_count(1);
        if (auto problem = sample_count_problem(count)) refuse(std::move(*problem), at);
        samples.resize(static_cast<std::size_t>(count));
        const std::size_t first = in.offset();
        if (in.take_zigzag_i16s(samples.data(), samples.size())) {
            // Samples are fractions from 0 to full scale; find the first negative one and its bytes.
            const auto bad = std::find_if(samples.begin(), samples.end(), [](std::int16_t s) { return !sample_allowed(s); });
            std::size_t offset = first;
            for (auto it = samples.begin(); it != bad; ++it) {
                offset += encoding::varint_size(Encoder::zigzag(*it));
            }
            refuse(sample_problem(std::to_string(*bad)), offset,
                   static_cast<std::size_t>(bad - samples.begin()));
        }
    }

    // A count is checked only against the smallest encoding of an element, which takes several
    // times that in memory (a signal of 2 bytes takes 40). So room is made at first only for
    // what would fill twice the bytes left in memory, as for samples (2 bytes each for at least
    // 1 in the file), and then for four times the elements actually read, or for all count once
    // that is within eight times: a move or two of a long table, none of a short one, and
    // memory bounded by the input.
    using Walker::list;
    template <class T, class A>
    void list(std::vector<T, A>& items) {
        static const std::size_t min_element_size = min_encoded_size<T>();
        const auto count = static_cast<std::size_t>(in.take_count(min_element_size));
        items.clear();
        items.reserve(std::min(count, 2 * in.remaining() / sizeof(T)));
        for (std::size_t i = 0; i < count; ++i) {
            if (items.size() == items.capacity()) {
                items.reserve(i >= count / 8 ? count : std::min(count, std::max<std::size_t>(4 * i, 16)));
            }
            at(*this, i, [&] { protocols::visit(*this, items.emplace_back()); });
        }
    }

    // The payload's fields sit right under the signal, as in its dict form.
    std::size_t kind(signals::Signal&) {
        const std::size_t at = in.offset();
        const std::uint64_t kind = in.take_varint();
        if (kind >= std::variant_size_v<signals::Signal::Params>) {
            refuse(rules::unknown_signal_kind(std::to_string(kind)), at);
        }
        return static_cast<std::size_t>(kind);
    }

    // The value rules (value_rules.hpp): a file holding a value outside them is refused instead
    // of being loaded and run.
    template <class R, class T>
    void field(R& record, std::string_view, T& member) {
        const std::size_t at = in.offset();
        protocols::visit(*this, member);
        if (auto problem = field_problem(record, member)) refuse(std::move(*problem), at);
    }
};

std::string message(const DecodeProblem& problem, const std::string& path) {
    return rules::at_path(problem.what, path).append(" at byte ").append(std::to_string(problem.offset));
}

}  // namespace

settings::Settings decode(std::span<const std::uint8_t> bytes) {
    FileReader r(bytes);
    try {
        Settings settings;
        protocols::visit(r, settings);
        if (r.in.remaining() != 0) {
            r.path.clear();
            const std::size_t left = r.in.remaining();
            refuse(std::to_string(left) + (left == 1 ? " byte" : " bytes") + " left over after the protocol",
                   r.in.offset());
        }
        return settings;
    } catch (const DecodeProblem& problem) {
        if (problem.element != DecodeProblem::no_element) r.path.push(problem.element);
        std::string path = r.path.text();
        std::string text = message(problem, path);
        throw DecodeFailure(std::move(text), problem.offset, std::move(path));
    }
}

}  // namespace protocols::file
