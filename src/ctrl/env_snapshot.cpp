#include "ctrl/env_snapshot.h"

#include <cstring>

extern char** environ;

namespace kxctrl {
namespace impl {

EnvSnapshot::EnvSnapshot()
{
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (equals == nullptr) {
            continue;
        }
        const char* value = equals[1] == '\0' ? " " : equals + 1;
        values.emplace(std::string(*entry, static_cast<std::size_t>(equals - *entry)), value);
    }
}

const char* EnvSnapshot::find(const std::string& name) const
{
    auto found = values.find(name);
    return found == values.end() ? nullptr : found->second;
}

} // namespace impl
} // namespace kxctrl
