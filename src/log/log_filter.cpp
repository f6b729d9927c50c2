#include "log/log_filter.h"

namespace kxlog {
namespace impl {

void setFilter(const std::string&)
{
}

} // namespace impl
} // namespace kxlog
