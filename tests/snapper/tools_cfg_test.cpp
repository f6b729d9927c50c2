#include <kxdiag/snapper.h>

#include "cfg_capture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

namespace {

using namespace kxsnapper;

std::string dataFile(const std::string& name)
{
    return kxtest::readFile(std::string(KXDIAG_SNAPPER_DATA) + "/" + name);
}

void expectDefaultLog(const LogCfg& log)
{
    EXPECT_EQ(log.logDir, "");
    EXPECT_EQ(log.fileSize, 0u);
    EXPECT_EQ(log.rotate, 0u);
    EXPECT_FALSE(log.save);
}

void expectLog(const LogCfg& log, const std::string& dir, uint64_t size, uint64_t rotate, bool save)
{
    EXPECT_EQ(log.logDir, dir);
    EXPECT_EQ(log.fileSize, size);
    EXPECT_EQ(log.rotate, rotate);
    EXPECT_EQ(log.save, save);
}

TEST(ToolsCfgDecode, EmptyDocumentKeepsEveryDefault)
{
    kxtest::QvsMessages messages;
    ToolsCfgTool tool("{}");
    ToolsCfg& cfg = tool.cfg;
    for (int type = CPU_HOTSPOT; type <= RINGBUFFER_TRACE; ++type) {
        expectDefaultLog(*cfg.getLogCfg(static_cast<SNAPPER_FILE_TYPE>(type)));
    }
    EXPECT_EQ(cfg.trap.mode, 0);
    EXPECT_EQ(cfg.trap.cacheSize, 65536);
    EXPECT_TRUE(cfg.trap.whitelistKernels.empty());
    EXPECT_FALSE(cfg.kernelImageDump.enable);
    EXPECT_FALSE(cfg.hotspot.umd.enable);
    EXPECT_EQ(cfg.hotspot.umd.period, 0);
    EXPECT_FALSE(cfg.hotspot.gpu.enable);
    EXPECT_EQ(cfg.hotspot.gpu.eventPeriod, 1000);
    EXPECT_EQ(cfg.hotspot.gpu.period, 5);
    EXPECT_TRUE(cfg.hotspot.gpu.metrics.empty());
    EXPECT_TRUE(cfg.cycleTrace.kernels.empty());
    EXPECT_TRUE(cfg.deviceImageMallocKernels.empty());
    EXPECT_TRUE(messages.has("parse kxTrace mistack.\n"));
    EXPECT_FALSE(messages.has("parse log mistack."));
}

TEST(ToolsCfgDecode, FullDocumentFillsEverySection)
{
    ToolsCfgTool tool(dataFile("tools_full.json"));
    ToolsCfg& cfg = tool.cfg;
    expectLog(cfg.trace.log, "$HOME/kx/trace", 1024, 3, true);
    expectLog(cfg.profile.log, "/tmp/kx/profile/", 2048, 4, false);
    expectLog(cfg.trap.log, "/tmp/kx/trap", 64, 2, true);
    expectLog(cfg.kernelImageDump.log, "/tmp/kx/image", 128, 1, false);
    expectLog(cfg.hang.log, "/tmp/kx/hang", 16, 5, true);
    expectLog(cfg.diag.log, "/tmp/kx/diag", 32, 6, false);
    expectLog(cfg.hotspot.cpu.log, "/tmp/kx/cpu", 100, 7, true);
    expectLog(cfg.hotspot.mem.log, "/tmp/kx/mem", 200, 8, false);
    expectLog(cfg.hotspot.ringbuffer.log, "/tmp/kx/ring", 300, 9, true);
    expectLog(cfg.hotspot.umd.log, "/tmp/kx/umd", 400, 10, true);
    expectLog(cfg.hotspot.gpu.log, "/tmp/kx/gpu", 500, 11, false);

    EXPECT_EQ(cfg.trap.mode, 2);
    EXPECT_EQ(cfg.trap.cacheSize, 4096);
    using Pairs = std::vector<std::pair<std::string, int>>;
    EXPECT_EQ(cfg.trap.whitelistKernels, (Pairs{{"gemm", 1}, {"conv", 0}}));

    EXPECT_TRUE(cfg.kernelImageDump.enable);
    EXPECT_EQ(cfg.kernelImageDump.whitelistKernels, (std::vector<std::string>{"gemm", "softmax"}));

    EXPECT_TRUE(cfg.hotspot.umd.enable);
    EXPECT_EQ(cfg.hotspot.umd.period, 3);

    const GpuHotspot& gpu = cfg.hotspot.gpu;
    EXPECT_TRUE(gpu.enable);
    EXPECT_EQ(gpu.eventPeriod, 250);
    EXPECT_EQ(gpu.period, 9);
    ASSERT_EQ(gpu.metrics.size(), 2u);  // an element with nothing but a name adds no metric
    const GpuHotspotMetricConfig& busy = gpu.metrics.at("sm_busy");
    EXPECT_EQ(busy.filters, (std::vector<std::string>{"gemm", "conv", "pool"}));
    EXPECT_FALSE(busy.autoFilterByName);  // the later element wins
    EXPECT_FALSE(busy.cdfEnable);
    const GpuHotspotMetricConfig& dram = gpu.metrics.at("dram_read");
    EXPECT_TRUE(dram.filters.empty());
    EXPECT_TRUE(dram.cdfEnable);
    EXPECT_EQ(dram.cdfBins, 16);

    EXPECT_EQ(cfg.cycleTrace.kernels, (std::map<std::string, int>{{"gemm", 2}, {"conv", -1}, {"softmax", 5}}));
    EXPECT_EQ(cfg.deviceImageMallocKernels, (std::unordered_set<std::string>{"gemm", "conv"}));
}

// Every key of a log object is required: one missing leaves the whole section at its defaults.
TEST(ToolsCfgDecode, LogObjectMissingOneKeyLeavesDefaults)
{
    const std::string keys[] = {"logDir", "fileSize", "rotate", "save"};
    const std::string values[] = {"\"/tmp/d\"", "10", "2", "true"};
    for (int missing = 0; missing < 4; ++missing) {
        std::string log;
        for (int i = 0; i < 4; ++i) {
            if (i != missing) {
                log += (log.empty() ? "" : ",") + ("\"" + keys[i] + "\":" + values[i]);
            }
        }
        SCOPED_TRACE("missing " + keys[missing]);
        kxtest::QvsMessages messages;
        ToolsCfgTool tool("{\"kxTrace\":{\"log\":{" + log + "}},\"hangDump\":{\"log\":{" + log
            + "}},\"kxHotspot\":{\"cpuHotSpot\":{\"log\":{" + log + "}}}}");
        expectDefaultLog(tool.cfg.trace.log);
        expectDefaultLog(tool.cfg.hang.log);
        expectDefaultLog(tool.cfg.hotspot.cpu.log);
        EXPECT_TRUE(messages.has("parse log mistack.\n"));
        EXPECT_TRUE(messages.has("parse kxTrace mistack.\n"));
        EXPECT_TRUE(messages.has("parse hotspot cpuHotSpot fail"));
    }
}

TEST(ToolsCfgDecode, NegativeSizesAreSignExtended)
{
    ToolsCfgTool tool(R"({"kxProfile":{"log":{"logDir":"/d","fileSize":-1,"rotate":-2,"save":false}}})");
    EXPECT_EQ(tool.cfg.profile.log.fileSize, UINT64_MAX);
    EXPECT_EQ(tool.cfg.profile.log.rotate, UINT64_MAX - 1);
}

// Values of a type jsoncpp cannot convert count as absent; elements of the wrong type are
// skipped. None of it may throw out of the library.
TEST(ToolsCfgDecode, MalformedValuesAreAbsentNotFatal)
{
    struct Case {
        const char* name;
        const char* json;
        std::function<void(const ToolsCfg&)> check;
    };
    const Case cases[] = {
        {"string size", R"({"kxTrace":{"log":{"logDir":"/t","fileSize":"big","rotate":2,"save":true}}})",
            [](const ToolsCfg& c) { expectDefaultLog(c.trace.log); }},
        {"object dir", R"({"kxTrace":{"log":{"logDir":{},"fileSize":1,"rotate":2,"save":true}}})",
            [](const ToolsCfg& c) { expectDefaultLog(c.trace.log); }},
        {"string save", R"({"hangDump":{"log":{"logDir":"/t","fileSize":1,"rotate":2,"save":"yes"}}})",
            [](const ToolsCfg& c) { expectDefaultLog(c.hang.log); }},
        {"size out of range", R"({"diagnose":{"log":{"logDir":"/t","fileSize":1e30,"rotate":2,"save":true}}})",
            [](const ToolsCfg& c) { expectDefaultLog(c.diag.log); }},
        {"log is an array", R"({"kxTrace":{"log":[1,2]}})", [](const ToolsCfg& c) { expectDefaultLog(c.trace.log); }},
        {"section is an array", R"({"kxTrace":[1],"trapDump":[{"mode":1}]})",
            [](const ToolsCfg& c) {
                expectDefaultLog(c.trace.log);
                EXPECT_EQ(c.trap.mode, 0);
            }},
        {"trap values", R"({"trapDump":{"mode":"fast","cache":[1],"whitelistKernels":
              [5,"k",{"kernelName":{"a":1},"index":"x"},{"kernelName":"ok","index":3}]}})",
            [](const ToolsCfg& c) {
                EXPECT_EQ(c.trap.mode, 0);
                EXPECT_EQ(c.trap.cacheSize, 65536);
                using Pairs = std::vector<std::pair<std::string, int>>;
                EXPECT_EQ(c.trap.whitelistKernels, (Pairs{{"", 0}, {"ok", 3}}));
            }},
        {"whitelist is an object", R"({"trapDump":{"whitelistKernels":{"kernelName":"k"}}})",
            [](const ToolsCfg& c) { EXPECT_TRUE(c.trap.whitelistKernels.empty()); }},
        {"kernel image values", R"({"kernelImageDump":{"enable":"yes","whitelistKernels":
              [1,{"kernelName":[]},{"kernelName":"k"}]}})",
            [](const ToolsCfg& c) {
                EXPECT_FALSE(c.kernelImageDump.enable);
                EXPECT_EQ(c.kernelImageDump.whitelistKernels, std::vector<std::string>{"k"});
            }},
        {"umd values", R"({"kxHotspot":{"umdHotSpot":{"enable":{},"period":"3"}}})",
            [](const ToolsCfg& c) {
                EXPECT_FALSE(c.hotspot.umd.enable);
                EXPECT_EQ(c.hotspot.umd.period, 0);
            }},
        {"hotspot is a number", R"({"kxHotspot":7})",
            [](const ToolsCfg& c) { EXPECT_EQ(c.hotspot.gpu.eventPeriod, 1000); }},
        {"gpu values", R"({"kxHotspot":{"gpuHotspot":{"enable":[],"eventPeriod":1e12,"period":"x","metrics":
              [3,{"name":{},"filters":["a"]},{"name":"m","filters":["a",{},7],"cdf":"on","autoFilterByName":"n"}]}}})",
            [](const ToolsCfg& c) {
                const GpuHotspot& gpu = c.hotspot.gpu;
                EXPECT_FALSE(gpu.enable);
                EXPECT_EQ(gpu.eventPeriod, 1000);
                EXPECT_EQ(gpu.period, 5);
                ASSERT_EQ(gpu.metrics.size(), 1u);
                EXPECT_EQ(gpu.metrics.at("m").filters, (std::vector<std::string>{"a", "7"}));
                EXPECT_FALSE(gpu.metrics.at("m").autoFilterByName);
            }},
        {"metrics is an object", R"({"kxHotspot":{"gpuHotspot":{"metrics":{"name":"m","cdf":{"bins":3}}}}})",
            [](const ToolsCfg& c) { EXPECT_TRUE(c.hotspot.gpu.metrics.empty()); }},
        {"cycle trace values", R"({"cycleTrace":{"kernels":[1,{"kernelName":"k","repeat":"x"},{"kernelName":{}}]}})",
            [](const ToolsCfg& c) { EXPECT_EQ(c.cycleTrace.kernels, (std::map<std::string, int>{{"k", -1}})); }},
        {"cycle trace kernels is an object", R"({"cycleTrace":{"kernels":{"kernelName":"k"}}})",
            [](const ToolsCfg& c) { EXPECT_TRUE(c.cycleTrace.kernels.empty()); }},
        {"device image values", R"({"deviceImageMalloc":{"kernels":[null,"k",{"kernelName":[1]},{"kernelName":"d"}]}})",
            [](const ToolsCfg& c) { EXPECT_EQ(c.deviceImageMallocKernels, std::unordered_set<std::string>{"d"}); }},
        {"root is an array", R"([{"kxTrace":{"log":{"logDir":"/t","fileSize":1,"rotate":2,"save":true}}}])",
            [](const ToolsCfg& c) { expectDefaultLog(c.trace.log); }},
        {"root is a string", R"("tools")", [](const ToolsCfg& c) { EXPECT_EQ(c.trap.cacheSize, 65536); }},
        {"nesting beyond the parser's limit", nullptr, [](const ToolsCfg& c) { expectDefaultLog(c.trace.log); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string json = c.json != nullptr ? c.json : std::string(5000, '[') + std::string(5000, ']');
        std::unique_ptr<ToolsCfgTool> tool;
        ASSERT_NO_THROW(tool = std::make_unique<ToolsCfgTool>(json));
        c.check(tool->cfg);
    }
}

TEST(ToolsCfgDecode, InvalidTextIsReported)
{
    kxtest::QvsMessages messages(spdlog::level::info);
    ToolsCfgTool tool("{\"kxTrace\": ");
    EXPECT_TRUE(messages.has("read json str erro:"));
    EXPECT_EQ(tool.cfg.trap.cacheSize, 65536);
}

TEST(ToolsCfgFiles, NamesMembersAndSuffixTypes)
{
    struct Row {
        SNAPPER_FILE_TYPE type;
        const char* name;
        bool json;
    };
    const Row rows[] = {
        {CPU_HOTSPOT, "CpuHotSpot.log", false},
        {UMD_HOTSPOT, "UmdHotSpot.log", true},
        {MEM_TRACING, "memTracing.log", false},
        {TRACE, "trace.log", false},
        {PROFILE, "profile.log", false},
        {TRAP_INFO, "trapInfo.log", true},
        {GPU_HOTSPOT, "gpuHotspot.log", false},
        {HANG_DUMP, "hangDump.log", true},
        {KERNEL_IMAGE_INFO, "kernelImageInfo.log", true},
        {DIAGNOSE, "diagnose.log", false},
        {RINGBUFFER_TRACE, "ringbufferTrace.log", false},
    };
    ToolsCfg cfg;
    const BaseLogCfg* members[] = {&cfg.hotspot.cpu, &cfg.hotspot.umd, &cfg.hotspot.mem, &cfg.trace, &cfg.profile,
        &cfg.trap, &cfg.hotspot.gpu, &cfg.hang, &cfg.kernelImageDump, &cfg.diag, &cfg.hotspot.ringbuffer};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(ToolsCfg::getSnapperFileName(row.type), row.name);
        EXPECT_EQ(ToolsCfg::getSnapperFileSuffixType(row.type), row.json);
        EXPECT_EQ(cfg.getLogCfg(row.type), &members[row.type]->log);
        EXPECT_EQ(members[row.type]->type, row.type);
    }
}

TEST(ToolsCfgFiles, UnknownTypeGetsNothing)
{
    kxtest::QvsMessages messages;
    ToolsCfg cfg;
    const auto unknown = static_cast<SNAPPER_FILE_TYPE>(11);
    EXPECT_EQ(ToolsCfg::getSnapperFileName(unknown), "");
    EXPECT_EQ(cfg.getLogCfg(unknown), ToolsCfg::nullLogCfg());
    EXPECT_FALSE(cfg.getLogCfg(unknown)->isUsable());
    EXPECT_FALSE(ToolsCfg::getSnapperFileSuffixType(unknown));
    EXPECT_TRUE(messages.has("erro SNAPPER_FILE_TYPE\n"));
}

TEST(LogCfg, UsableNeedsDirectorySizeAndRotation)
{
    EXPECT_TRUE((LogCfg{"/d", 1, 1, false}).isUsable());
    EXPECT_FALSE((LogCfg{"", 1, 1, true}).isUsable());
    EXPECT_FALSE((LogCfg{"/d", 0, 1, true}).isUsable());
    EXPECT_FALSE((LogCfg{"/d", 1, 0, true}).isUsable());
}

TEST(LogCfg, RealDirExpandsTheFirstHomeAndEndsWithSlash)
{
    struct Case {
        const char* home;
        const char* dir;
        const char* expected;
    };
    const Case cases[] = {
        {"/home/u", "$HOME/logs", "/home/u/logs/"},
        {"", "$HOME/logs", "/logs/"},
        {"/h", "/a/$HOME/b/$HOME", "/a//h/b/$HOME/"},
        {"/h", "/tmp/x/", "/tmp/x/"},
        {"/h", "", "/"},
        {"/h", "rel/dir", "rel/dir/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dir);
        setenv("HOME", c.home, 1);
        EXPECT_EQ(LogCfg::getRealDir(c.dir), c.expected);
    }
}

TEST(LogCfg, RealDirWithoutHomeUsesThePasswordDatabase)
{
    unsetenv("HOME");
    const passwd* user = getpwuid(getuid());
    ASSERT_NE(user, nullptr);
    EXPECT_EQ(LogCfg::getRealDir("$HOME/x"), std::string(user->pw_dir) + "/x/");
}

TEST(ToolsCfgShow, FullConfigurationText)
{
    ToolsCfgTool tool(dataFile("tools_full.json"));
    const std::string text = kxtest::stdoutOf([&] { tool.cfg.show(); });
    EXPECT_EQ(text, dataFile("tools_full_show.txt"));
}

TEST(ToolsCfgShow, DefaultsShowNoListHeaders)
{
    ToolsCfg cfg;
    const std::string text = kxtest::stdoutOf([&] { cfg.show(); });
    EXPECT_EQ(text.find("kernel info:"), std::string::npos);
    EXPECT_EQ(text.find("whitelistKernels:"), std::string::npos);
    EXPECT_EQ(text.find("metrics info:"), std::string::npos);
    EXPECT_NE(text.find("\tkernels size 0:\n"), std::string::npos);
    EXPECT_NE(text.find("\tcache size:\t65536\n"), std::string::npos);
}

TEST(ToolsCfgShow, HangAndDiagTitles)
{
    ToolsCfg cfg;
    cfg.diag.log = LogCfg{"/d", 1, 2, true};
    EXPECT_EQ(kxtest::stdoutOf([&] { cfg.diag.show("P"); }),
        "Pdiag:\t\nPlog config:\t\n\tPsave:\t1\n\tPdir:\t/d\n\tPfileSize(KB):\t1\n\tProtate:\t2\n");
    EXPECT_EQ(kxtest::stdoutOf([&] { cfg.hang.show("P"); }).substr(0, 6), "Plog:\t");
}

} // namespace
