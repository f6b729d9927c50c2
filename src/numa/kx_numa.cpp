#include <kxdiag/numa.h>
#include <kxdiag/snapper.h>

#include "numa/numa_report.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace kxnuma {
namespace impl {
namespace {

constexpr int kLabelWidth = 20;
constexpr int kCellWidth = 10;

const char* const kLibraries[] = {"kxruntime", "kxcompiler", "qvc-runtime", "qvkw", nullptr};

// Lines grow as needed: a machine with many nodes gets wide lines rather
// than cut ones.
__attribute__((format(printf, 2, 3))) void appendf(std::string& line, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list copy;
    va_copy(copy, args);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length > 0) {
        size_t start = line.size();
        line.resize(start + static_cast<size_t>(length) + 1);
        std::vsnprintf(&line[start], static_cast<size_t>(length) + 1, format, args);
        line.resize(start + static_cast<size_t>(length));
    }
    va_end(args);
}

void writeLine(const std::string& line)
{
    kxlog::api::kxLog(kxsnapper::utils::g_snapperlog, kxlog::kxLevel_enum::INFO, "%s\n", line.c_str());
}

void printBindRow(const char* label, const std::vector<bool>& bits, int maxNode)
{
    std::string line;
    appendf(line, "%-*s", kLabelWidth, label);
    for (int node = 0; node <= maxNode; ++node) {
        bool set = static_cast<size_t>(node) < bits.size() && bits[static_cast<size_t>(node)];
        appendf(line, "%-*s", kCellWidth, set ? "X" : "");
    }
    writeLine(line);
}

// A whole decimal number in [low, high], nothing else.
bool parseNumber(const std::string& text, long long low, unsigned long long high, long long& out)
{
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '-')) {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || (value > 0 && static_cast<unsigned long long>(value) > high)) {
        return false;
    }
    out = value;
    return true;
}

struct Placement {
    std::unordered_map<int, unsigned long long> pages;
    unsigned long long total = 0;
};

// Adds the "N<node>=<pages>" words of one numa_maps line; words that do not
// read as numbers are skipped.
void countPages(const std::string& line, Placement& placement)
{
    std::istringstream words(line);
    std::string word;
    words >> word; // the mapping's address
    while (words >> word) {
        size_t equals = word.find('=');
        if (word.size() < 3 || word[0] != 'N' || equals == std::string::npos) {
            continue;
        }
        long long node = 0;
        long long count = 0;
        if (!parseNumber(word.substr(1, equals - 1), INT_MIN, INT_MAX, node)
            || !parseNumber(word.substr(equals + 1), 0, LLONG_MAX, count)) {
            continue;
        }
        placement.pages[static_cast<int>(node)] += static_cast<unsigned long long>(count);
        placement.total += static_cast<unsigned long long>(count);
    }
}

void printLibraryRow(const char* library, const Placement& placement, int maxNode)
{
    std::string line;
    appendf(line, "%-*s", kLabelWidth, library);
    for (int node = 0; node <= maxNode; ++node) {
        auto found = placement.pages.find(node);
        int pages = found == placement.pages.end() ? 0 : static_cast<int>(found->second);
        if (pages <= 0) {
            appendf(line, "%-*s", kCellWidth, "");
            continue;
        }
        char percent[64];
        std::snprintf(percent, sizeof percent, "%.0f%%",
            static_cast<double>(pages) * 100.0 / static_cast<double>(placement.total));
        appendf(line, "%-*s", kCellWidth, percent);
    }
    writeLine(line);
}

} // namespace

void printNumaInfo(std::unordered_map<int, int>& gpuToNode, NumaSource& source)
{
    const auto& logger = kxsnapper::utils::g_snapperlog;
    if (!logger || !logger->shouldLog(kxlog::kxLevel_enum::INFO) || !source.available()) {
        return;
    }
    const int maxNode = source.maxNode();
    if (maxNode < 1) {
        return;
    }

    if (const char* visible = std::getenv("KORA_VISIBLE_DEVICES")) {
        kxlog::api::kxLog(logger, kxlog::kxLevel_enum::INFO, "env KORA_VISIBLE_DEVICES is: %s", visible);
    }

    std::string header;
    appendf(header, "%-*s", kLabelWidth, "");
    for (int node = 0; node <= maxNode; ++node) {
        appendf(header, "%s%-*d", "Node", kCellWidth - 4, node);
    }
    writeLine(header);

    // Walking up to the largest index present fills the gaps below it and
    // ends even when the map holds negative indices.
    int lastGpu = -1;
    for (const auto& entry : gpuToNode) {
        lastGpu = std::max(lastGpu, entry.first);
    }
    for (int gpu = 0; gpu <= lastGpu; ++gpu) {
        const int gpuNode = gpuToNode[gpu];
        std::string line;
        appendf(line, "Gpu%-*d", kLabelWidth - 3, gpu);
        for (int node = 0; node <= maxNode; ++node) {
            appendf(line, "%-*s", kCellWidth, node == gpuNode ? "X" : "");
        }
        writeLine(line);
    }

    printBindRow("CpuBind", source.runNodes(maxNode), maxNode);
    printBindRow("MemBind", source.memNodes(maxNode), maxNode);

    std::vector<std::string> mappings;
    if (auto maps = source.openNumaMaps()) {
        std::string line;
        while (std::getline(*maps, line)) {
            mappings.push_back(std::move(line));
        }
    }
    for (const char* const* library = kLibraries; *library; ++library) {
        Placement placement;
        for (const std::string& line : mappings) {
            if (line.find(*library) != std::string::npos) {
                countPages(line, placement);
            }
        }
        printLibraryRow(*library, placement, maxNode);
    }
}

} // namespace impl

void printNumaInfo(std::unordered_map<int, int>& gpuToNode)
{
    impl::printNumaInfo(gpuToNode, impl::systemNumaSource());
}

} // namespace kxnuma
