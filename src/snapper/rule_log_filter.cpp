#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <utility>

namespace kxsnapper {
namespace utils {

void setRuleLogFilter(std::string level, std::string keyword, std::string module,
    std::function<void(std::string)> callback)
{
    kxlog::api::setLogFilter(std::move(level), std::move(keyword), std::move(module), std::move(callback));
}

} // namespace utils
} // namespace kxsnapper
