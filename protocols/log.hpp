// A small logging facade: records carry a level and a target naming the module. Nothing is
// installed by default and the maximum level is off, so records are discarded unless a host
// sets both a logger and a level.
#pragma once

#include <functional>
#include <string_view>

namespace protocols::log {

enum class Level { Off = 0, Error, Warn, Info, Debug, Trace };

using Logger = std::function<void(Level, std::string_view target, std::string_view message)>;

void set_logger(Logger logger);
void set_max_level(Level level);
Level max_level() noexcept;
bool enabled(Level level) noexcept;
void write(Level level, std::string_view target, std::string_view message);

}  // namespace protocols::log
