#include "protocols/file/record_decoding.hpp"

#include <algorithm>
#include <array>
#include <concepts>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "encoding/decoder.hpp"
#include "protocols/field_path.hpp"
#include "protocols/file/record_encoding.hpp"
#include "protocols/record.hpp"
#include "protocols/utf8.hpp"

namespace protocols::file {
namespace {

using encoding::DecodeProblem;
using settings::Settings;

// The field being read is kept outside the call stack, so that it still names the failing
// field after a problem has been thrown out of the walk.
struct Reader {
    encoding::Decoder in;
    FieldPath path;
};

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

// The value rules (value_rules.hpp): a file holding a value outside them is refused instead of
// being loaded and run.
template <class R, class T>
void check_field(const R& record, std::string_view field, const T& value, std::size_t at) {
    if (auto problem = field_problem(record, field, value)) refuse(std::move(*problem), at);
}

template <class T>
void decode_value(Reader& r, T& value);

template <Record R>
void decode_record(Reader& r, R& record) {
    R::fields(record, [&](std::string_view name, auto& member) {
        const std::size_t at = r.in.offset();
        r.path.push(name);
        decode_value(r, member);
        check_field(record, name, member, at);
        r.path.pop();
    });
}

// A count is checked only against the smallest encoding of an element, which takes several
// times that in memory (a signal of 2 bytes takes 40). So room is made at first only for what
// would fill twice the bytes left in memory, as for samples (2 bytes each for at least 1 in
// the file), and then for four times the elements actually read, or for all count once that
// is within eight times: a move or two of a long table, none of a short one, and memory
// bounded by the input.
template <class T, class A>
void decode_sequence(Reader& r, std::vector<T, A>& items) {
    static const std::size_t min_element_size = min_encoded_size<T>();
    const auto count = static_cast<std::size_t>(r.in.take_count(min_element_size));
    items.clear();
    items.reserve(std::min(count, 2 * r.in.remaining() / sizeof(T)));
    for (std::size_t i = 0; i < count; ++i) {
        if (items.size() == items.capacity()) {
            items.reserve(i >= count / 8 ? count : std::min(count, std::max<std::size_t>(4 * i, 16)));
        }
        r.path.push(i);
        decode_value(r, items.emplace_back());
        r.path.pop();
    }
}

void decode_samples(Reader& r, signals::Samples& samples) {
    const std::size_t at = r.in.offset();
    const std::uint64_t count = r.in.take_count(1);
    if (auto problem = sample_count_problem(count)) refuse(std::move(*problem), at);
    samples.resize(static_cast<std::size_t>(count));
    const std::size_t first = r.in.offset();
    if (r.in.take_zigzag_i16s(samples.data(), samples.size())) {
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

void decode_signal(Reader& r, signals::Signal& signal) {
    using Params = signals::Signal::Params;
    const std::size_t at = r.in.offset();
    r.path.push("kind");
    const std::uint64_t kind = r.in.take_varint();
    if (kind >= std::variant_size_v<Params>) refuse("unknown signal kind " + std::to_string(kind), at);
    r.path.pop();
    // The payload's fields sit right under the signal, as in its dict form.
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (void)((kind == I ? (decode_record(r, signal.params.template emplace<I>()), true) : false) || ...);
    }(std::make_index_sequence<std::variant_size_v<Params>>{});
}

void decode_text(Reader& r, std::string& text) {
    const std::uint64_t length = r.in.take_count(1);
    const std::size_t at = r.in.offset();
    const std::string_view bytes = r.in.take_bytes(static_cast<std::size_t>(length));
    if (!utf8::valid(bytes)) refuse("invalid UTF-8", at);
    text.assign(bytes);
}

// The mirror of encode_value: each kind read back exactly as it is written.
template <class T>
void decode_value(Reader& r, T& value) {
    if constexpr (std::same_as<T, bool>) {
        value = r.in.take_bool();
    } else if constexpr (std::same_as<T, std::uint64_t>) {
        value = r.in.take_varint();
    } else if constexpr (std::same_as<T, double>) {
        value = r.in.take_f64();
    } else if constexpr (std::same_as<T, std::string>) {
        decode_text(r, value);
    } else if constexpr (std::same_as<T, signals::Samples>) {
        decode_samples(r, value);
    } else if constexpr (detail::is_vector<T>) {
        decode_sequence(r, value);
    } else if constexpr (std::same_as<T, std::array<bool, settings::MONITOR_TRACES>>) {
        for (std::size_t i = 0; i < value.size(); ++i) {
            r.path.push(i);
            value[i] = r.in.take_bool();
            r.path.pop();
        }
    } else if constexpr (std::same_as<T, signals::Signal>) {
        decode_signal(r, value);
    } else if constexpr (Record<T>) {
        decode_record(r, value);
    } else {
        static_assert(detail::unsupported<T>, "this field type has no protocol file decoding");
    }
}

std::string message(const DecodeProblem& problem, const std::string& path) {
    std::string text = problem.what;
    if (!path.empty()) text.append(" for ").append(path);
    return text.append(" at byte ").append(std::to_string(problem.offset));
}

}  // namespace

settings::Settings decode(std::span<const std::uint8_t> bytes) {
    Reader r{encoding::Decoder(bytes), FieldPath()};
    try {
        Settings settings;
        decode_record(r, settings);
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
