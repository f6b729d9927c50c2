#ifndef KXDIAG_NUMA_H
#define KXDIAG_NUMA_H

#include <kxdiag/export.h>

#include <unordered_map>

namespace kxnuma {

// Logs, on the snapshot logger at INFO, which NUMA node each GPU sits on, the
// process's CPU and memory binding and the node placement of the platform's
// libraries. Writes nothing on a machine with fewer than two nodes.
// gpuToNode maps GPU index to node; GPU indices missing below the largest one
// are added with node 0.
KXDIAG_API void printNumaInfo(std::unordered_map<int, int>& gpuToNode);

} // namespace kxnuma

#endif
