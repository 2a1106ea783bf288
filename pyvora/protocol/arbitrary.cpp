// Arbitrary signals from NumPy arrays: the array is read in place, checked and quantised in one
// pass (protocols/quantise.hpp). No reference to it is kept, and it is never copied.
#include <cstdint>

#include "protocols/quantise.hpp"
#include "pyvora/protocol/methods.hpp"

namespace pyvora::methods {

namespace sig = protocols::signals;

StagedAppend add_arbitrary_signal(Settings& s, SampleArray samples) {
    const std::uint64_t expected = sig::num_samples(s.session_duration);
    protocols::require(samples.length >= 0 && static_cast<std::uint64_t>(samples.length) == expected,
                       "samples.len() == self.get_num_samples()");
    sig::Samples quantised =
        sig::quantise(sig::SampleView{samples.data, samples.length, samples.stride, samples.contiguous});
    return StagedAppend(s.signals, sig::Signal{sig::ArbitrarySignalParams{std::move(quantised)}});
}

}  // namespace pyvora::methods
