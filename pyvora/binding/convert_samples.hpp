// Integer samples from Python values, each judged as loading a file judges a sample
// (protocols/rules/value_rules.hpp).
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "protocols/signals.hpp"
#include "pyvora/binding/python.hpp"

namespace pyvora {

// What is wrong with the samples, thrown by the readers below: `position` names the refused
// sample, and is empty when the samples as a whole are refused.
struct SampleRefusal {
    std::optional<std::size_t> position;
    std::string what;
};

// A NumPy integer array, an array.array or any other 1-D buffer of integers, read in place.
void read_buffer_samples(PyObject* obj, protocols::signals::Samples& samples);

// Python ints, one a sample.
void read_int_samples(std::span<PyObject* const> items, protocols::signals::Samples& samples);

}  // namespace pyvora
