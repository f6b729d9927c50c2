#pragma once

#include <set>
#include <string>

namespace kxlog {
namespace impl {

// Names of the loggers in spdlog's registry (the unified loggers) and in
// unRegistry (the customized ones), as of the last refresh. Settings that must
// reach every logger iterate these.
std::set<std::string> registeredLoggerNames();
std::set<std::string> unregisteredLoggerNames();
void getAllLoggerName();

} // namespace impl
} // namespace kxlog
