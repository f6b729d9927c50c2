#include <kxdiag/snapper.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <vector>

namespace {

using kxsnapper::SnapperFileHelper;

std::string pid()
{
    return std::to_string(::getpid());
}

int64_t nowSecond()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(SnapperFileHelper, PatternsAndSplits)
{
    struct Case {
        std::string path;
        int pid;
        std::string expected;
    };
    const std::vector<Case> cases{
        { "dir/CpuHotSpot.log", 1234, "dir/CpuHotSpot.1234.*.log" },
        { "CpuHotSpot.log", 7, "CpuHotSpot.7.*.log" },
        { "/var/x/trace", 7, "/var/x/trace.7.*" },
        { "/var/a.b/trace", 7, "/var/a.b/trace.7.*" },
        { "/var/x/.hidden", 7, "/var/x/.hidden.7.*" },
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SnapperFileHelper::getReg(c.path, c.pid), c.expected) << c.path;
    }
    EXPECT_EQ(SnapperFileHelper::getSplit(), (std::vector<std::string>{ "_", ".", "." }));
}

TEST(SnapperFileHelper, FilesStartedInOneSecondGetCounters)
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        kxtest::TempDir tmp;
        const std::string dir = tmp.path() + "/";
        int64_t before = nowSecond();
        {
            SnapperFileHelper family("CpuHotSpot.log", dir, 1, 10, true);
            for (int i = 0; i < 3; ++i) {
                family.write(std::string(600, 'a' + i));
            }
        }
        if (nowSecond() != before) {
            continue;
        }
        const std::string stem = "CpuHotSpot." + pid() + "." + std::to_string(before);
        EXPECT_EQ(kxtest::listDir(tmp.path()),
            (std::vector<std::string>{ stem + ".log", stem + "_1.log", stem + "_2.log" }));
        EXPECT_EQ(kxtest::readFile(dir + stem + "_1.log"), std::string(600, 'b'));
        return;
    }
    FAIL() << "never wrote three files within one second";
}

// Names sort in the order files were started as long as the second has as many digits.
std::vector<std::string> contents(const std::string& dir)
{
    std::vector<std::string> texts;
    for (const auto& name : kxtest::listDir(dir)) {
        texts.push_back(kxtest::readFile(dir + "/" + name));
    }
    return texts;
}

TEST(SnapperFileHelper, RotatesBySizeAndKeepsTheNewestFiles)
{
    kxtest::TempDir tmp;
    {
        SnapperFileHelper family("r.log", tmp.path() + "/", 1, 2, true);
        family.write(std::string(600, 'a'));
        family.write(std::string(424, 'b'));  // exactly 1024 bytes: still fits
        EXPECT_EQ(kxtest::listDir(tmp.path()).size(), 1u);
        family.write(std::string(600, 'c'));
        family.write(std::string(600, 'd'));
    }
    EXPECT_EQ(contents(tmp.path()), (std::vector<std::string>{ std::string(600, 'c'), std::string(600, 'd') }));

    kxtest::TempDir single;
    {
        SnapperFileHelper family("r.log", single.path() + "/", 1, 0, true);
        for (char c : std::string("xyz")) {
            family.write(std::string(700, c));
        }
    }
    EXPECT_EQ(contents(single.path()), (std::vector<std::string>{ std::string(700, 'z') }));
}

TEST(SnapperFileHelper, OverLongTextGoesWholeIntoAnEmptyFile)
{
    kxtest::TempDir tmp;
    {
        SnapperFileHelper family("big.log", tmp.path() + "/", 1, 5, true);
        family.write(std::string(3000, 'x'));
        EXPECT_EQ(kxtest::listDir(tmp.path()).size(), 1u);
        family.write("next");
    }
    EXPECT_EQ(contents(tmp.path()), (std::vector<std::string>{ std::string(3000, 'x'), "next" }));
}

TEST(SnapperFileHelper, RawWritesKeepEveryByteAndIgnoreNull)
{
    kxtest::TempDir tmp;
    {
        SnapperFileHelper family("raw.log", tmp.path() + "/", 4, 2, true);
        family.write(nullptr, 10);
        const char bytes[] = { 'a', '\0', 'b', '\n' };
        family.write(bytes, sizeof(bytes));
    }
    EXPECT_EQ(contents(tmp.path()), (std::vector<std::string>{ std::string("a\0b\n", 4) }));
}

TEST(SnapperFileHelper, RecordingSwitches)
{
    kxtest::TempDir tmp;
    const std::string dir = tmp.path() + "/out/";
    SnapperFileHelper family("s.log", dir, 4, 2, false);
    EXPECT_FALSE(family.getRecored());
    family.write("dropped");
    family.flush();
    EXPECT_TRUE(kxtest::listDir(dir).empty());
    EXPECT_EQ(SnapperFileHelper::getReg(dir + "s.log", 1), dir + "s.1.*.log");

    family.setEnv("KXDIAG_TEST_SNAPPER_RECORD");
    setenv("KXDIAG_TEST_SNAPPER_RECORD", "EnAbLe", 1);
    family.loadEnv();
    EXPECT_TRUE(family.getRecored());
    family.write("kept");
    setenv("KXDIAG_TEST_SNAPPER_RECORD", "off", 1);
    family.loadEnv();
    EXPECT_TRUE(family.getRecored());
    family.setRecored(false);
    family.write("dropped");
    family.flush();
    EXPECT_EQ(contents(dir), (std::vector<std::string>{ "kept" }));

    kxtest::TempDir blocked;
    kxtest::writeFile(blocked.file("plain"), "x");
    SnapperFileHelper nowhere("s.log", blocked.path() + "/plain/sub/", 4, 2, true);
    EXPECT_FALSE(nowhere.getRecored());
    nowhere.setRecored(true);
    EXPECT_FALSE(nowhere.getRecored());
    nowhere.write("lost");
}

TEST(SnapperFileHelper, FlushModeFromEnvironment)
{
    struct Case {
        const char* value;  // nullptr: unset
        bool flushes;
    };
    const std::vector<Case> cases{
        { "1", true }, { "01", true }, { "0001", true }, { "2", false }, { "1x", false }, { "", false },
        { " 1", false }, { "0", false }, { "99999999999999999999", false }, { nullptr, false },
    };
    for (const auto& c : cases) {
        if (c.value) {
            setenv("SNAPPER_FILE_FLUSH_MODE", c.value, 1);
        } else {
            unsetenv("SNAPPER_FILE_FLUSH_MODE");
        }
        kxtest::TempDir tmp;
        SnapperFileHelper family("f.log", tmp.path() + "/", 4, 2, true);
        family.write("line\n");
        // Without a flush the short line still sits in the stream's buffer.
        auto texts = contents(tmp.path());
        ASSERT_EQ(texts.size(), 1u);
        EXPECT_EQ(texts[0], c.flushes ? "line\n" : "") << (c.value ? c.value : "unset");
        family.flush();
        EXPECT_EQ(contents(tmp.path())[0], "line\n");
    }
    unsetenv("SNAPPER_FILE_FLUSH_MODE");
}

TEST(SnapperFileHelper, DefaultConstructorKeepsThreeFilesOf1000KiB)
{
    kxtest::TempDir tmp;
    {
        SnapperFileHelper family("d.log", tmp.path() + "/", false);
        EXPECT_TRUE(family.getRecored());
        const std::string block(1024000 / 2, 'x');
        for (int i = 0; i < 8; ++i) {
            family.write(block);  // two blocks fill one file exactly
        }
        family.write("y");
    }
    auto texts = contents(tmp.path());
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[2], "y");
    EXPECT_EQ(texts[0].size(), 1024000u);
}

} // namespace
