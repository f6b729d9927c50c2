#pragma once

#include <istream>
#include <memory>
#include <vector>

namespace kxnuma {
namespace impl {

// What the report reads from the machine: the node topology, the process's
// bindings and its numa_maps text.
class NumaSource {
public:
    virtual ~NumaSource() = default;

    virtual bool available() = 0;
    virtual int maxNode() = 0;
    // Bits 0 to maxNode of the process's CPU, respectively memory, binding.
    virtual std::vector<bool> runNodes(int maxNode) = 0;
    virtual std::vector<bool> memNodes(int maxNode) = 0;
    // Null when the process's numa_maps cannot be opened.
    virtual std::unique_ptr<std::istream> openNumaMaps() = 0;
};

// libnuma and /proc/<pid>/numa_maps.
NumaSource& systemNumaSource();

} // namespace impl
} // namespace kxnuma
