// The signal kinds of a protocol, their parameter records and the sampling rule.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <new>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "protocols/config.hpp"

namespace protocols::signals {

struct ConstantSignalParams {
    double value = 0.0;

    static constexpr std::string_view record_name = "ConstantSignalParams";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("value", self.value);
    }
};

struct SineSignalParams {
    double amplitude = 0.0;
    double frequency = 0.0;
    double phase = 0.0;
    double depth = 1.0;

    static constexpr std::string_view record_name = "SineSignalParams";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("amplitude", self.amplitude);
        f("frequency", self.frequency);
        f("phase", self.phase);
        f("depth", self.depth);
    }
};

struct RampSignalParams {
    double peak = 0.0;
    double up_duration = 0.0;
    double down_duration = 0.0;

    static constexpr std::string_view record_name = "RampSignalParams";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("peak", self.peak);
        f("up_duration", self.up_duration);
        f("down_duration", self.down_duration);
    }
};

struct MixedSignalParams {
    std::uint64_t a_idx = 0;  // positions in the same signal table, never checked
    std::uint64_t b_idx = 0;

    static constexpr std::string_view record_name = "MixedSignalParams";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("a_idx", self.a_idx);
        f("b_idx", self.b_idx);
    }
};

// Leaves the new elements of a list uninitialised when it is sized up: sample lists are sized
// once and then filled whole (by quantising or decoding), and zeroing millions of samples
// first would cost a pass of its own. Elements given a value are constructed as usual.
template <class T>
struct FilledLaterAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = FilledLaterAllocator<U>;
    };
    FilledLaterAllocator() noexcept = default;
    template <class U>
    FilledLaterAllocator(const FilledLaterAllocator<U>&) noexcept {}

    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

// Samples are signed 16-bit fixed-point fractions with 32767 as full scale.
using Samples = std::vector<std::int16_t, FilledLaterAllocator<std::int16_t>>;

struct ArbitrarySignalParams {
    Samples samples;

    static constexpr std::string_view record_name = "ArbitrarySignalParams";
    template <class Self, class F>
    static void fields(Self& self, F&& f) {
        f("samples", self.samples);
    }
};

// A signal is one of five kinds, numbered 0 to 4 in this order; the file writes that number.
struct Signal {
    using Params = std::variant<ConstantSignalParams, SineSignalParams, RampSignalParams,
                                MixedSignalParams, ArbitrarySignalParams>;
    static constexpr std::array<std::string_view, 5> kind_names = {
        "Constant", "Sine", "Ramp", "MixedSignal", "Arbitrary"};

    Params params;
};

using SignalTable = std::vector<Signal>;

using config::SAMPLING_RATE;

// Appends at the end of the table and returns the new signal's position.
std::uint64_t append(SignalTable& table, Signal signal);

// An append made ready: the memory it needs is taken on construction (the only step that can
// fail, with std::bad_alloc, the table unchanged), so commit() cannot fail. A caller that still
// has to allocate for its own result does so in between and leaves the table as it was if that
// fails.
class StagedAppend {
public:
    StagedAppend(SignalTable& table, Signal signal);

    // The position the signal takes.
    std::uint64_t result() const noexcept { return table_.size(); }
    void commit() noexcept;

private:
    SignalTable& table_;
    Signal signal_;
};

// ceil(session_duration * 5000) saturated to u64; refuses a duration that is not above 0.
std::uint64_t num_samples(double session_duration);

}  // namespace protocols::signals
