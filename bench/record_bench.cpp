// Throughput of kxsnapper::record into a plain rotating family against writing
// the same texts with spdlog's file object directly into one file.
#include "log/spdlog_config.h"

#include <kxdiag/snapper.h>

#include "ratio_report.h"

#include <spdlog/details/file_helper.h>

#include <stdlib.h>

#include <cstdio>
#include <fstream>
#include <string>

namespace {

// A scratch directory for the whole run, removed with its files afterwards.
class ScratchDir {
public:
    ScratchDir()
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kxdiag-bench-XXXXXX";
        if (mkdtemp(pattern.data())) {
            path = pattern;
        }
    }
    ~ScratchDir()
    {
        if (!path.empty()) {
            std::string command = "rm -rf '" + path + "'";
            if (std::system(command.c_str()) != 0) {
                std::fprintf(stderr, "cannot remove %s\n", path.c_str());
            }
        }
    }
    std::string path;
};

ScratchDir& scratch()
{
    static ScratchDir dir;
    return dir;
}

// A hotspot-like line of 100 bytes.
const std::string& line()
{
    static const std::string text = [] {
        const std::string head = "[KX_PROFILE] P-4242 T-4243 ";
        const std::string tail = " 1765269685000000000 1765269685000001000\n";
        return head + std::string(100 - head.size() - tail.size(), 'k') + tail;
    }();
    return text;
}

void BM_FileHelperWrite(benchmark::State& state)
{
    spdlog::details::file_helper file;
    file.open(scratch().path + "/baseline.log", true);
    for (auto _ : state) {
        spdlog::memory_buf_t buffer;
        buffer.append(line().data(), line().data() + line().size());
        file.write(buffer);
    }
    file.flush();
    state.SetItemsProcessed(state.iterations());
}

void BM_Record(benchmark::State& state)
{
    for (auto _ : state) {
        kxsnapper::record(line(), kxsnapper::CPU_HOTSPOT);
    }
    kxsnapper::flush(kxsnapper::CPU_HOTSPOT);
    state.SetItemsProcessed(state.iterations());
}

// Fixed counts keep the baseline file at 100 MB; the family rotates through 1000 KiB files.
BENCHMARK(BM_FileHelperWrite)->Iterations(1000000);
BENCHMARK(BM_Record)->Iterations(1000000);

} // namespace

int main(int argc, char** argv)
{
    std::ofstream(scratch().path + "/tools.json")
        << R"({ "kxHotspot": { "cpuHotSpot": { "log": { "logDir": ")" << scratch().path
        << R"(/out", "fileSize": 1000, "rotate": 3, "save": true } } } })";
    setenv("KORA_ETC_PATH", scratch().path.c_str(), 1);
    if (line().size() != 100 || !kxsnapper::SnapperFileMgt::instance()->getFileHelper(kxsnapper::CPU_HOTSPOT)) {
        std::fprintf(stderr, "record_bench: no CPU hotspot family\n");
        return 1;
    }
    return kxbench::runAndReport(argc, argv,
        {
            { "record / file_helper write (items/s)", "BM_Record/iterations:1000000",
                "BM_FileHelperWrite/iterations:1000000", 0.8, true },
        });
}
