#pragma once

#include "numa/numa_source.h"

#include <unordered_map>

namespace kxnuma {
namespace impl {

// The report of printNumaInfo, read from the given source.
void printNumaInfo(std::unordered_map<int, int>& gpuToNode, NumaSource& source);

} // namespace impl
} // namespace kxnuma
