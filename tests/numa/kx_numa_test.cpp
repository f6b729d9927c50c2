#include <kxdiag/numa.h>
#include <kxdiag/snapper.h>

#include "log/default_sinks.h"
#include "log/level_names.h"
#include "numa/numa_report.h"

#include <spdlog/sinks/ostream_sink.h>

#include <gtest/gtest.h>
#include <numa.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace {

using kxnuma::impl::NumaSource;

// A machine as the test describes it.
class FakeNuma final : public NumaSource {
public:
    bool isAvailable = true;
    int nodes = 2;
    std::vector<bool> run{true, true};
    std::vector<bool> mem{true, true};
    bool mapsReadable = true;
    std::string maps;

    bool available() override { return isAvailable; }
    int maxNode() override { return nodes - 1; }
    std::vector<bool> runNodes(int) override { return run; }
    std::vector<bool> memNodes(int) override { return mem; }
    std::unique_ptr<std::istream> openNumaMaps() override
    {
        if (!mapsReadable) {
            return nullptr;
        }
        return std::make_unique<std::istringstream>(maps);
    }
};

// Collects what the snapshot logger writes, one entry per log call.
class NumaReport : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(kxsnapper::utils::g_snapperlog, nullptr);
        unsetenv("KORA_VISIBLE_DEVICES");
        kxlog::api::setLevel("QVS", "info");
        sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
        sink->set_formatter(kxlog::impl::makeFormatter("%v"));
        ASSERT_TRUE(kxlog::impl::addSink(sink, "QVS"));
    }
    void TearDown() override { kxlog::impl::removeSink(sink, "QVS"); }

    // Each log call ends with the report's own line end and the sink's.
    std::vector<std::string> lines()
    {
        std::vector<std::string> result;
        std::string text = out.str();
        const std::string end = "\n\n";
        for (size_t start = 0; start < text.size();) {
            size_t stop = text.find(end, start);
            if (stop == std::string::npos) {
                result.push_back(text.substr(start));
                break;
            }
            result.push_back(text.substr(start, stop - start));
            start = stop + end.size();
        }
        return result;
    }

    std::ostringstream out;
    std::shared_ptr<spdlog::sinks::ostream_sink_mt> sink;
};

std::string pad(const std::string& text, size_t width)
{
    return text + std::string(width > text.size() ? width - text.size() : 0, ' ');
}

TEST_F(NumaReport, OneNodeNoSupportOrQuietLoggerWriteNothing)
{
    FakeNuma oneNode;
    oneNode.nodes = 1;
    std::unordered_map<int, int> gpus{{0, 0}};
    kxnuma::impl::printNumaInfo(gpus, oneNode);

    FakeNuma unsupported;
    unsupported.isAvailable = false;
    kxnuma::impl::printNumaInfo(gpus, unsupported);

    kxlog::api::setLevel("QVS", "warning");
    FakeNuma twoNodes;
    kxnuma::impl::printNumaInfo(gpus, twoNodes);

    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(gpus.size(), 1u);
}

TEST_F(NumaReport, ThisMachine)
{
    std::unordered_map<int, int> gpus{{0, 0}};
    kxnuma::printNumaInfo(gpus);
    if (numa_available() < 0 || numa_max_node() < 1) {
        EXPECT_EQ(out.str(), "");
    } else {
        EXPECT_EQ(lines().size(), 1u + 1u + 2u + 4u);
    }
}

TEST_F(NumaReport, TwoNodesWithGpusAndLibraries)
{
    setenv("KORA_VISIBLE_DEVICES", "0,2", 1);
    FakeNuma machine;
    machine.run = {true, false};
    machine.mem = {false, true};
    machine.maps =
        "7f0000000000 default file=/opt/kora/lib/libkxruntime.so.1 mapped=4 N0=2 N1=2 kernelpagesize_kB=4\n"
        "7f0000100000 default file=/opt/kora/lib/libkxcompiler.so mapped=3 N0=1 N1=1\n"
        "7f0000200000 default file=/opt/kora/lib/libkxcompiler.so anon=2 N0=1\n"
        "7f0000300000 default file=/usr/lib/libother.so N0=9\n";
    std::unordered_map<int, int> gpus{{0, 0}, {2, 1}};
    kxnuma::impl::printNumaInfo(gpus, machine);

    const std::string blank(10, ' ');
    std::vector<std::string> expected{
        "env KORA_VISIBLE_DEVICES is: 0,2",
        std::string(20, ' ') + "Node0     Node1     ",
        pad("Gpu0", 20) + pad("X", 10) + blank,
        pad("Gpu1", 20) + pad("X", 10) + blank,
        pad("Gpu2", 20) + blank + pad("X", 10),
        pad("CpuBind", 20) + pad("X", 10) + blank,
        pad("MemBind", 20) + blank + pad("X", 10),
        pad("kxruntime", 20) + pad("50%", 10) + pad("50%", 10),
        pad("kxcompiler", 20) + pad("67%", 10) + pad("33%", 10),
        pad("qvc-runtime", 20) + blank + blank,
        pad("qvkw", 20) + blank + blank,
    };
    // The env line is logged without a line end of its own.
    std::string text = out.str();
    ASSERT_EQ(text.rfind(expected[0] + "\n", 0), 0u) << text;
    out.str(text.substr(expected[0].size() + 1));
    expected.erase(expected.begin());
    EXPECT_EQ(lines(), expected);
    ASSERT_EQ(gpus.size(), 3u);
    EXPECT_EQ(gpus.at(1), 0);
}

TEST_F(NumaReport, UnreadableMapsLeaveLibraryCellsEmpty)
{
    FakeNuma machine;
    machine.mapsReadable = false;
    std::unordered_map<int, int> gpus;
    kxnuma::impl::printNumaInfo(gpus, machine);
    std::vector<std::string> got = lines();
    ASSERT_EQ(got.size(), 1u + 2u + 4u);
    EXPECT_EQ(got[3], pad("kxruntime", 40));
    EXPECT_EQ(got[6], pad("qvkw", 40));
}

TEST_F(NumaReport, MalformedPageWordsAreSkipped)
{
    FakeNuma machine;
    machine.maps = "7f00 default file=/lib/libqvkw.so N=4 Nx=3 N0=abc N1=2x N99999999999=1 N-1=5 N1=3 N0=1\n";
    std::unordered_map<int, int> gpus;
    kxnuma::impl::printNumaInfo(gpus, machine);
    std::vector<std::string> got = lines();
    ASSERT_EQ(got.size(), 7u);
    // 9 pages counted in all (5 on node -1, which is not shown).
    EXPECT_EQ(got.back(), pad("qvkw", 20) + pad("11%", 10) + pad("33%", 10));
}

TEST_F(NumaReport, NegativeAndSparseGpuIndicesEnd)
{
    FakeNuma machine;
    std::unordered_map<int, int> gpus{{-1, 1}, {-7, 0}, {3, 1}};
    kxnuma::impl::printNumaInfo(gpus, machine);
    std::vector<std::string> got = lines();
    ASSERT_EQ(got.size(), 1u + 4u + 2u + 4u);
    EXPECT_EQ(got[4], pad("Gpu3", 20) + std::string(10, ' ') + pad("X", 10));
    EXPECT_EQ(gpus.size(), 6u);

    std::unordered_map<int, int> onlyNegative{{-2, 1}};
    out.str("");
    kxnuma::impl::printNumaInfo(onlyNegative, machine);
    EXPECT_EQ(lines().size(), 1u + 2u + 4u);
    EXPECT_EQ(onlyNegative.size(), 1u);
}

TEST_F(NumaReport, ManyNodesWidenTheLines)
{
    FakeNuma machine;
    machine.nodes = 150;
    machine.run.assign(150, false);
    machine.run[149] = true;
    machine.mem.assign(150, true);
    machine.maps = "7f00 default file=/lib/libkxruntime.so N149=5\n";
    std::unordered_map<int, int> gpus{{0, 149}};
    kxnuma::impl::printNumaInfo(gpus, machine);
    std::vector<std::string> got = lines();
    ASSERT_EQ(got.size(), 1u + 1u + 2u + 4u);
    for (const std::string& line : got) {
        EXPECT_EQ(line.size(), 20u + 150u * 10u);
    }
    EXPECT_EQ(got[0].substr(20 + 149 * 10), "Node149   ");
    EXPECT_EQ(got[1].substr(20 + 149 * 10), pad("X", 10));
    EXPECT_EQ(got[2].substr(20 + 149 * 10), pad("X", 10));
    EXPECT_EQ(got[4].substr(20 + 149 * 10), pad("100%", 10));
}

} // namespace
