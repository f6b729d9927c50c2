#pragma once

#include <string>
#include <unordered_map>

namespace kxctrl {
namespace impl {

// The process environment as it was when taken: entries without "=" are
// skipped, an empty value reads as " ", and the first of duplicate names wins.
class EnvSnapshot {
public:
    EnvSnapshot();

    // The value, pointing into the environment's own text; null when absent.
    const char* find(const std::string& name) const;

private:
    std::unordered_map<std::string, const char*> values;
};

} // namespace impl
} // namespace kxctrl
