#pragma once

#include "log/spdlog_config.h"

#include <spdlog/common.h>

#include <vector>

namespace kxlog {
namespace impl {

// The sinks a logger registered with default sinks starts with.
std::vector<spdlog::sink_ptr> getDefaultSinks();

} // namespace impl
} // namespace kxlog
