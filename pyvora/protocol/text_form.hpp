// The text form of a protocol as a Python str.
#pragma once

#include "protocols/settings.hpp"
#include "protocols/text/renderer.hpp"
#include "pyvora/binding/object.hpp"

namespace pyvora {

Ref text_form(const protocols::Protocol& protocol,
              protocols::text::SampleLists samples = protocols::text::SampleLists::every_sample);

}  // namespace pyvora
