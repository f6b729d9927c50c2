#pragma once

#include <string>

namespace kxlog {
namespace impl {

// Attaches the pending snapshot filter to the named logger, if one waits for it.
void setFilter(const std::string& loggerName);

} // namespace impl
} // namespace kxlog
