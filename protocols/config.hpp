// Limits of a protocol.
#pragma once

namespace protocols::config {

// The longest session a protocol may describe, in seconds.
inline constexpr double MAX_SESSION_DURATION = 1800.0;

}  // namespace protocols::config
