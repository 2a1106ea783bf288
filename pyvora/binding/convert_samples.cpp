#include "pyvora/binding/convert_samples.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string_view>
#include <type_traits>
#include <utility>

#include "protocols/rules/data_refusals.hpp"
#include "protocols/rules/value_rules.hpp"
#include "pyvora/binding/convert.hpp"
#include "pyvora/binding/describe.hpp"

namespace pyvora {
namespace {

namespace sig = protocols::signals;
namespace rules = protocols::rules;

[[noreturn]] void refuse(std::string what) { throw SampleRefusal{std::nullopt, std::move(what)}; }

// A refusal of the sample at `position`, named by its path.
[[noreturn]] void refuse_sample(std::size_t position, std::string what) {
    throw SampleRefusal{position, std::move(what)};
}

// The element type of an integer buffer: signedness, size and whether its bytes are in the
// other order than this machine's. Empty for any other format.
struct IntFormat {
    bool is_signed;
    std::size_t size;
    bool swapped;
};

std::optional<IntFormat> int_format(const char* format, Py_ssize_t itemsize) {
    std::string_view f = format == nullptr ? "B" : format;
    bool big = std::endian::native == std::endian::big;
    if (!f.empty() && std::string_view("@=<>!").find(f.front()) != std::string_view::npos) {
        if (f.front() == '<') big = false;
        if (f.front() == '>' || f.front() == '!') big = true;
        f.remove_prefix(1);
    }
    if (f.size() != 1 || std::string_view("bBhHiIlLqQnN").find(f.front()) == std::string_view::npos) {
        return std::nullopt;
    }
    if (itemsize != 1 && itemsize != 2 && itemsize != 4 && itemsize != 8) return std::nullopt;
    const bool is_signed = f.front() == 'n' || (f.front() >= 'a' && f.front() <= 'z');
    return IntFormat{is_signed, static_cast<std::size_t>(itemsize),
                     itemsize > 1 && big != (std::endian::native == std::endian::big)};
}

template <class T>
T byte_swapped(T value) noexcept {
    std::array<char, sizeof(T)> bytes;
    std::memcpy(bytes.data(), &value, sizeof(T));
    std::reverse(bytes.begin(), bytes.end());
    std::memcpy(&value, bytes.data(), sizeof(T));
    return value;
}

// A limit of the samples as a T: clamped to T's range, which holds 0 (the least sample).
template <class T>
constexpr T limit_as(std::int64_t limit) noexcept {
    static_assert(std::in_range<T>(rules::MIN_SAMPLE));
    if (std::cmp_greater(limit, std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(limit);
}

// The loading rule on a sample, compared in T's own width: g++ does not vectorise the compare
// of an element widened to 64 bits.
template <class T>
constexpr bool allowed(T value) noexcept {
    constexpr T least = limit_as<T>(rules::MIN_SAMPLE);
    constexpr T most = limit_as<T>(rules::MAX_SAMPLE);
    return least <= value && value <= most;
}

// One pass over a 1-D buffer of T: each element converted and stored, the verdict gathered on
// the way; only a refused buffer is looked at again, to name its first bad sample. A packed
// buffer's stride is a constant of the instantiation, so that the loop is vectorised by every
// compiler, not only by one that inlines and specialises a stride given at run time.
template <class T, bool Swapped, bool Packed>
void copy_elements(const char* data, Py_ssize_t stride, std::int16_t* out, std::size_t n) {
    const auto element = [&](std::size_t i) {
        T value;
        std::memcpy(&value, data + static_cast<Py_ssize_t>(i) * (Packed ? Py_ssize_t{sizeof(T)} : stride),
                    sizeof(T));
        if constexpr (Swapped) value = byte_swapped(value);
        return value;
    };
    unsigned refused = 0;  // an or of flags rather than an and of bools: a reduction compilers vectorise
    for (std::size_t i = 0; i < n; ++i) {
        const T value = element(i);
        refused |= static_cast<unsigned>(!allowed(value));
        out[i] = static_cast<std::int16_t>(value);
    }
    if (refused == 0) return;
    for (std::size_t i = 0; i < n; ++i) {
        if (!allowed(element(i))) refuse_sample(i, rules::sample_problem(std::to_string(element(i))));
    }
}

template <class T>
void copy_buffer(const Py_buffer& view, bool swapped, std::int16_t* out, std::size_t n) {
    const auto* data = static_cast<const char*>(view.buf);
    const Py_ssize_t stride = view.strides != nullptr ? view.strides[0] : view.itemsize;
    if (swapped) {
        copy_elements<T, true, false>(data, stride, out, n);
    } else if (stride == static_cast<Py_ssize_t>(sizeof(T))) {
        copy_elements<T, false, true>(data, stride, out, n);
    } else {
        copy_elements<T, false, false>(data, stride, out, n);
    }
}

template <class... T>
void dispatch_buffer(const Py_buffer& view, IntFormat format, std::int16_t* out, std::size_t n) {
    (void)((format.size == sizeof(T) && format.is_signed == std::is_signed_v<T>
                ? (copy_buffer<T>(view, format.swapped, out, n), true)
                : false) ||
           ...);
}

void allocate(sig::Samples& samples, std::size_t count) {
    if (auto problem = rules::sample_count_problem(count)) refuse(std::move(*problem));
    samples.resize(count);  // left unfilled (FilledLaterAllocator): every element is written next
}

// A sample given as a Python int; exact ints that fit a machine word take the short road.
std::int16_t sample_of(PyObject* item, std::size_t position) {
    long long value = 0;
    int overflow = 0;
#if PY_VERSION_HEX >= 0x030C0000
    if (PyLong_CheckExact(item) && PyUnstable_Long_IsCompact(reinterpret_cast<PyLongObject*>(item))) {
        value = PyUnstable_Long_CompactValue(reinterpret_cast<PyLongObject*>(item));
    } else
#endif
    if (PyLong_Check(item) && !PyBool_Check(item)) {
        value = PyLong_AsLongLongAndOverflow(item, &overflow);
        if (value == -1 && PyErr_Occurred()) throw PythonError{};
    } else {
        refuse_sample(position, rules::kind_problem(rules::Due::an_int, given(item)));
    }
    if (overflow != 0 || !rules::sample_allowed(value)) {
        refuse_sample(position, rules::sample_problem(int_text(item)));
    }
    return static_cast<std::int16_t>(value);
}

// The buffer of obj in any layout. One that obj offers but cannot give (a NumPy datetime64
// array, a released memoryview) is the samples' problem, refused as any other unfit array is.
BufferView sample_buffer(PyObject* obj) {
    try {
        return BufferView(obj, BufferView::any_layout);
    } catch (const PythonError&) {
        if (!PyErr_ExceptionMatches(PyExc_ValueError) && !PyErr_ExceptionMatches(PyExc_BufferError)) throw;
        PyErr_Clear();
        refuse("expected integer samples, got " + given(obj) + " with no readable buffer");
    }
}

}  // namespace

void read_buffer_samples(PyObject* obj, sig::Samples& samples) {
    const BufferView buffer = sample_buffer(obj);
    const Py_buffer& view = buffer.view();
    if (view.ndim != 1) refuse("expected a 1-D array of samples, got " + std::to_string(view.ndim) + " dimensions");
    const auto format = int_format(view.format, view.itemsize);
    if (!format) {
        refuse("expected integer samples, got an array of format '" +
               std::string(view.format == nullptr ? "B" : view.format) + "'");
    }
    const auto n = static_cast<std::size_t>(view.shape != nullptr ? view.shape[0] : view.len / view.itemsize);
    allocate(samples, n);
    dispatch_buffer<std::int8_t, std::uint8_t, std::int16_t, std::uint16_t, std::int32_t, std::uint32_t,
                    std::int64_t, std::uint64_t>(view, *format, samples.data(), n);
}

void read_int_samples(std::span<PyObject* const> items, sig::Samples& samples) {
    allocate(samples, items.size());
    for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = sample_of(items[i], i);
}

}  // namespace pyvora
