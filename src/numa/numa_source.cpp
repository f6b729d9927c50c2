#include "numa/numa_source.h"

#include <numa.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace kxnuma {
namespace impl {
namespace {

std::vector<bool> nodeBits(bitmask* mask, int maxNode)
{
    std::vector<bool> bits(static_cast<size_t>(maxNode + 1), false);
    if (!mask) {
        return bits;
    }
    for (int node = 0; node <= maxNode; ++node) {
        bits[static_cast<size_t>(node)] = numa_bitmask_isbitset(mask, static_cast<unsigned int>(node)) != 0;
    }
    numa_bitmask_free(mask);
    return bits;
}

class SystemNumaSource final : public NumaSource {
public:
    bool available() override { return numa_available() >= 0; }

    int maxNode() override { return numa_max_node(); }

    std::vector<bool> runNodes(int maxNode) override { return nodeBits(numa_get_run_node_mask(), maxNode); }

    std::vector<bool> memNodes(int maxNode) override { return nodeBits(numa_get_membind(), maxNode); }

    std::unique_ptr<std::istream> openNumaMaps() override
    {
        auto file = std::make_unique<std::ifstream>("/proc/" + std::to_string(getpid()) + "/numa_maps");
        if (!file->is_open()) {
            return nullptr;
        }
        return file;
    }
};

} // namespace

NumaSource& systemNumaSource()
{
    static SystemNumaSource source;
    return source;
}

} // namespace impl
} // namespace kxnuma
