#include "protocols/log.hpp"

#include <atomic>
#include <utility>

namespace protocols::log {
namespace {

std::atomic<Level> current_max{Level::Off};

Logger& installed() {
    static Logger logger;
    return logger;
}

}  // namespace

void set_logger(Logger logger) { installed() = std::move(logger); }
void set_max_level(Level level) { current_max.store(level, std::memory_order_relaxed); }
Level max_level() noexcept { return current_max.load(std::memory_order_relaxed); }

bool enabled(Level level) noexcept {
    return level != Level::Off && level <= max_level() && static_cast<bool>(installed());
}

void write(Level level, std::string_view target, std::string_view message) {
    if (enabled(level)) installed()(level, target, message);
}

}  // namespace protocols::log
