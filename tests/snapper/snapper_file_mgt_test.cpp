#include <kxdiag/snapper.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace {

using namespace kxsnapper;

// HOME is private to the test process; every output lands under $HOME/out.
class Record : public testing::Test {
protected:
    void SetUp() override
    {
        out = std::string(std::getenv("HOME")) + "/out/";
        kxtest::writeFile(etc.file("tools.json"), R"({
            "kxHotspot": {
                "cpuHotSpot": { "log": { "logDir": "$HOME/out", "fileSize": 4, "rotate": 2, "save": true } },
                "umdHotSpot": { "log": { "logDir": "$HOME/out", "fileSize": 4, "rotate": 2, "save": true } },
                "memoryTracing": { "log": { "logDir": "$HOME/out", "fileSize": 4, "rotate": 2, "save": false } },
                "gpuHotspot": { "log": { "logDir": "$HOME/out", "fileSize": 0, "rotate": 2, "save": true } }
            },
            "kxTrace": { "log": { "logDir": "$HOME/out", "fileSize": 64, "rotate": 2, "save": true } },
            "kxProfile": { "log": { "logDir": "$HOME/out", "fileSize": 64, "rotate": 2, "save": true } },
            "trapDump": { "log": { "logDir": "$HOME/out", "fileSize": 4, "rotate": 2, "save": true } },
            "hangDump": { "log": { "logDir": "$HOME/out", "fileSize": 4, "rotate": 0, "save": true } },
            "diagnose": { "log": { "logDir": "", "fileSize": 4, "rotate": 2, "save": true } }
        })");
        setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    }

    // The files of one family in the output directory.
    std::vector<std::string> family(const std::string& stem)
    {
        std::vector<std::string> names;
        for (const auto& name : kxtest::listDir(out)) {
            if (name.compare(0, stem.size() + 1, stem + ".") == 0) {
                names.push_back(name);
            }
        }
        return names;
    }

    std::string only(const std::string& stem)
    {
        auto names = family(stem);
        EXPECT_EQ(names.size(), 1u) << stem;
        return names.empty() ? "" : kxtest::readFile(out + names[0]);
    }

    kxtest::TempDir etc;
    std::string out;
};

TEST_F(Record, UsableTypesGetTheirFamilyOnFirstUse)
{
    EXPECT_TRUE(record("[KX_PROFILE] first\n", CPU_HOTSPOT));
    EXPECT_TRUE(record(CPU_HOTSPOT, "[KX_PROFILE] P-%d %s\n", 12, "second"));
    flush(CPU_HOTSPOT);
    auto names = family("CpuHotSpot");
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(SnapperFileHelper::getReg("CpuHotSpot.log", static_cast<int>(::getpid())).substr(0, 11),
        names[0].substr(0, 11));
    EXPECT_EQ(kxtest::readFile(out + names[0]), "[KX_PROFILE] first\n[KX_PROFILE] P-12 second\n");

    // A JSON type adds its comma to each text.
    EXPECT_TRUE(record("{\"k\":1}", UMD_HOTSPOT));
    flush(UMD_HOTSPOT);
    EXPECT_EQ(only("UmdHotSpot"), "[\n{\"k\":1},\n");
}

TEST_F(Record, SaveFalseAcceptsTextsButWritesNothing)
{
    EXPECT_TRUE(record("hidden\n", MEM_TRACING));
    EXPECT_TRUE(record(MEM_TRACING, "%s", "hidden\n"));
    flush(MEM_TRACING);
    ASSERT_TRUE(SnapperFileMgt::instance()->getFileHelper(MEM_TRACING));
    EXPECT_TRUE(family("memTracing").empty());
}

TEST_F(Record, UnusableConfigurationsHaveNoFile)
{
    struct Case {
        SNAPPER_FILE_TYPE type;
        const char* why;
    };
    const std::vector<Case> cases{
        { GPU_HOTSPOT, "fileSize 0" }, { HANG_DUMP, "rotate 0" }, { DIAGNOSE, "empty logDir" },
        { KERNEL_IMAGE_INFO, "no section" }, { RINGBUFFER_TRACE, "no tool" },
        { static_cast<SNAPPER_FILE_TYPE>(11), "one past the last type" },
        { static_cast<SNAPPER_FILE_TYPE>(200), "no such type" },
    };
    char raw[] = "raw";
    for (const auto& c : cases) {
        for (int attempt = 0; attempt < 2; ++attempt) {
            EXPECT_FALSE(record("text", c.type)) << c.why;
            EXPECT_FALSE(record(raw, 3, c.type)) << c.why;
            EXPECT_FALSE(record(c.type, "%s", "text")) << c.why;
            flush(c.type);
            EXPECT_FALSE(SnapperFileMgt::instance()->getFileHelper(c.type)) << c.why;
        }
    }
    EXPECT_TRUE(family("gpuHotspot").empty());
    EXPECT_TRUE(family("hangDump").empty());
}

TEST_F(Record, ManagerKeepsItsCopyOfTheConfiguration)
{
    ToolsCfg cfg;
    cfg.hotspot.gpu.log = LogCfg{ out, 0, 2, true };
    SnapperFileMgt manager(cfg);
    EXPECT_FALSE(manager.getFileHelper(GPU_HOTSPOT));
    cfg.hotspot.gpu.log.fileSize = 4;
    EXPECT_FALSE(manager.getFileHelper(GPU_HOTSPOT));

    SnapperFileMgt usable(cfg);
    auto& slot = usable.getFileHelper(GPU_HOTSPOT);
    ASSERT_TRUE(slot);
    EXPECT_EQ(&slot, &usable.getFileHelper(GPU_HOTSPOT));
}

TEST_F(Record, TrapFileIsFlushedAtEveryWrite)
{
    EXPECT_TRUE(record(TRAP_INFO, "%d", 7));
    // Readable while the file is still open and nobody flushed it.
    EXPECT_EQ(only("trapInfo"), "[\n7,\n");
    EXPECT_TRUE(record(TRAP_INFO, "{\"pc\":%u}", 16u));
    EXPECT_EQ(only("trapInfo"), "[\n7,\n{\"pc\":16},\n");
}

TEST_F(Record, FormattedTextsAreWholeUpToTheirFirstNul)
{
    const std::string longText(10000, 'L');
    EXPECT_TRUE(record(TRACE, "<%s>\n", longText.c_str()));
    EXPECT_TRUE(record(TRACE, "ab%cde\n", '\0'));
    EXPECT_TRUE(record(TRACE, "%s", ""));
    char raw[] = { 'r', '\0', 's', '\n' };
    EXPECT_TRUE(record(raw, sizeof(raw), TRACE));
    flush(TRACE);
    EXPECT_EQ(only("trace"), "<" + longText + ">\nab" + std::string("r\0s\n", 4));
}

TEST_F(Record, FlushCreatesNothing)
{
    flush(PROFILE);
    flush(CPU_HOTSPOT);
    EXPECT_TRUE(kxtest::listDir(out).empty());
    EXPECT_TRUE(record("p", PROFILE));
    flush(PROFILE);
    EXPECT_EQ(only("profile"), "p");
}

TEST_F(Record, FileHelperOverload)
{
    std::shared_ptr<fileHelper> none;
    EXPECT_FALSE(record("text", none));
    auto file = std::make_shared<fileHelper>("own.log", out, false, false, false, true, false,
        FileHelperEventHandlers{});
    EXPECT_TRUE(record("text", file));
    file->flush();
    EXPECT_EQ(kxtest::readFile(out + "own.log"), "text");
}

} // namespace
