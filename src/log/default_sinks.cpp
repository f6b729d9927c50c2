#include "log/default_sinks.h"

#include <spdlog/sinks/stdout_color_sinks.h>

namespace kxlog {
namespace impl {

std::vector<spdlog::sink_ptr> getDefaultSinks()
{
    static spdlog::sink_ptr console = std::make_shared<spdlog::sinks::ansicolor_stdout_sink_mt>();
    return { console };
}

} // namespace impl
} // namespace kxlog
