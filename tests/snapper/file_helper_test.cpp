#include <kxdiag/snapper.h>

#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

using kxsnapper::fileHelper;
using kxsnapper::FileHelperEventHandlers;

std::string pid()
{
    return std::to_string(::getpid());
}

std::string localTime(std::time_t stamp)
{
    std::tm local{};
    localtime_r(&stamp, &local);
    char text[64];
    std::strftime(text, sizeof(text), "%Y-%m-%d_%H_%M_%S", &local);
    return text;
}

// Runs make until it finished within one second, so names holding the time are predictable.
template <typename Make>
std::time_t withinOneSecond(Make&& make)
{
    for (;;) {
        std::time_t before = std::time(nullptr);
        make();
        if (std::time(nullptr) == before) {
            return before;
        }
    }
}

std::unique_ptr<fileHelper> helper(const std::string& name, const std::string& dir, bool addPid, bool addTime,
    bool truncate = false, bool recording = true, bool addIndex = false)
{
    return std::make_unique<fileHelper>(
        name, dir, addPid, addTime, truncate, recording, addIndex, FileHelperEventHandlers{});
}

TEST(FileHelper, SuffixesAddPidTimeAndSameSecondIndex)
{
    kxtest::TempDir tmp;
    const std::string dir = tmp.path() + "/a/";
    std::string first;
    std::string second;
    std::string third;
    std::time_t stamp = withinOneSecond([&] {
        first = helper("hang.log", dir, true, true, false, true, true)->filename();
        second = helper("hang.log", dir, true, true, false, true, true)->filename();
        third = helper("hang.log", dir, true, true, false, true, true)->filename();
    });
    const std::string stem = dir + "hang." + pid() + "." + localTime(stamp);
    EXPECT_EQ(first, stem + ".log");
    EXPECT_EQ(second, stem + ".1.log");
    EXPECT_EQ(third, stem + ".2.log");

    // Without the index flag the same second gives the same name.
    std::string plain;
    stamp = withinOneSecond([&] { plain = helper("hang.log", dir, true, true)->filename(); });
    EXPECT_EQ(plain, dir + "hang." + pid() + "." + localTime(stamp) + ".log");

    struct Case {
        std::string dir;
        std::string name;
        bool pid;
        bool index;
        std::string expected;
    };
    const std::vector<Case> cases{
        { dir, "hang.log", true, false, dir + "hang." + pid() + ".log" },
        { dir, "hang.log", false, true, dir + "hang.log" },
        { dir, "trace", true, false, dir + "trace." + pid() },
        { dir, ".hidden", true, false, dir + ".hidden." + pid() },
        { dir, ".hidden.txt", true, false, dir + ".hidden." + pid() + ".txt" },
        { tmp.path() + "/d.x/", "trace", true, false, tmp.path() + "/d.x/trace." + pid() },
        { dir, "dot.", true, false, dir + "dot.." + pid() },
    };
    for (const auto& c : cases) {
        auto file = std::make_unique<fileHelper>(c.name, c.dir, c.pid, false, false, true, c.index,
            FileHelperEventHandlers{});
        EXPECT_EQ(file->filename(), c.expected) << c.name;
    }
}

TEST(FileHelper, FileIndexRegistryStartsOverInANewSecond)
{
    EXPECT_EQ(fileHelper::addFileIndex(100, "a"), 0);
    EXPECT_EQ(fileHelper::addFileIndex(100, "a"), 1);
    EXPECT_EQ(fileHelper::addFileIndex(100, "b"), 0);
    EXPECT_EQ(fileHelper::addFileIndex(100, "a"), 2);
    EXPECT_EQ(fileHelper::addFileIndex(101, "b"), 0);
    EXPECT_EQ(fileHelper::addFileIndex(101, "a"), 0);
    EXPECT_EQ(fileHelper::addFileIndex(101, "b"), 1);
}

TEST(FileHelper, RecordingOffCreatesNothingUntilSwitchedOn)
{
    kxtest::TempDir tmp;
    const std::string dir = tmp.path() + "/out/";
    std::unique_ptr<fileHelper> file;
    std::time_t stamp = 0;
    do {
        file = helper("probe.log", dir, true, true, false, false);
        EXPECT_EQ(file->filename(), "");
        file->write("dropped\n");
        EXPECT_EQ(file->size(), 0u);
        EXPECT_TRUE(kxtest::listDir(dir).empty());
        stamp = std::time(nullptr);
        file->setRecored(true);
    } while (std::time(nullptr) != stamp);
    EXPECT_EQ(file->filename(), dir + "probe." + pid() + "." + localTime(stamp) + ".log");
    file->write("kept\n");
    file->setRecored(false);
    file->write("dropped again\n");
    file->setRecored(true);
    file->write("kept too");
    file->flush();
    EXPECT_EQ(file->size(), 13u);
    EXPECT_EQ(kxtest::readFile(file->filename()), "kept\nkept too");
    EXPECT_EQ(kxtest::listDir(dir).size(), 1u);
}

TEST(FileHelper, TruncateReplacesAndAppendKeepsExistingContent)
{
    kxtest::TempDir tmp;
    const std::string dir = tmp.path() + "/";
    kxtest::writeFile(dir + "t.log", "old\n");
    kxtest::writeFile(dir + "a.log", "old\n");
    {
        auto truncated = helper("t.log", dir, false, false, true);
        auto appended = helper("a.log", dir, false, false, false);
        EXPECT_EQ(truncated->size(), 0u);
        truncated->write("new\n");
        appended->write("new\n");
    }
    EXPECT_EQ(kxtest::readFile(dir + "t.log"), "new\n");
    EXPECT_EQ(kxtest::readFile(dir + "a.log"), "old\nnew\n");
}

TEST(FileHelper, EnvironmentSwitchesRecording)
{
    kxtest::TempDir tmp;
    const std::string dir = tmp.path() + "/";
    auto file = helper("env.log", dir, false, false, false, false);
    file->loadEnv();  // no variable named yet
    file->setEnv("KXDIAG_TEST_RECORD");

    struct Step {
        const char* value;  // nullptr: unset
        const char* written;
    };
    const std::vector<Step> steps{
        { "ENABLE", "1" }, { "maybe", "2" }, { "Disable", "3" }, { nullptr, "4" }, { "enable", "5" },
    };
    for (const auto& step : steps) {
        if (step.value) {
            setenv("KXDIAG_TEST_RECORD", step.value, 1);
        } else {
            unsetenv("KXDIAG_TEST_RECORD");
        }
        file->loadEnv();
        file->write(step.written);
    }
    file->flush();
    EXPECT_EQ(kxtest::readFile(dir + "env.log"), "125");
}

TEST(FileHelper, EventHandlersRunAroundOpenAndClose)
{
    kxtest::TempDir tmp;
    const std::string dir = tmp.path() + "/";
    std::vector<std::string> events;
    FileHelperEventHandlers handlers;
    handlers.beforeOpen = [&](const std::string& name) { events.push_back("beforeOpen " + name); };
    handlers.afterOpen = [&](const std::string& name, std::FILE* f) {
        events.push_back("afterOpen " + name);
        std::fputs("head\n", f);
    };
    handlers.beforeClose = [&](const std::string& name, std::FILE* f) {
        events.push_back("beforeClose " + name);
        std::fputs("tail\n", f);
    };
    handlers.afterClose = [&](const std::string& name) { events.push_back("afterClose " + name); };
    {
        fileHelper file("h.log", dir, false, false, false, true, false, handlers);
        EXPECT_TRUE(events.empty());
        file.write("body\n");
        file.write("more\n");
    }
    const std::string path = dir + "h.log";
    EXPECT_EQ(events, (std::vector<std::string>{ "beforeOpen " + path, "afterOpen " + path, "beforeClose " + path,
                          "afterClose " + path }));
    EXPECT_EQ(kxtest::readFile(path), "head\nbody\nmore\ntail\n");
}

TEST(FileHelper, UncreatableDirectorySwitchesRecordingOffForGood)
{
    kxtest::TempDir tmp;
    kxtest::writeFile(tmp.file("plain"), "x");
    const std::string dir = tmp.path() + "/plain/sub/";
    testing::internal::CaptureStderr();
    auto file = helper("x.log", dir, true, false);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "[FileService] Snapshot is disabled due to failure on creating directory \"" + dir + "\" \n");
    file->setRecored(true);
    file->write("lost\n");
    EXPECT_EQ(file->filename(), "");
    EXPECT_EQ(file->size(), 0u);
}

TEST(FileHelper, MissingParentsAreCreated)
{
    kxtest::TempDir tmp;
    const std::string dir = tmp.path() + "/a/b/c/";
    auto file = helper("x.log", dir, false, false);
    file->write("deep\n");
    file->flush();
    EXPECT_EQ(kxtest::readFile(dir + "x.log"), "deep\n");
}

TEST(FileHelper, InitNamesTheFileInTheLogDirectory)
{
    auto file = kxsnapper::init("probe.log", true, false, false);
    ASSERT_TRUE(file);
    const std::string dir = kxlog::api::getKxlogPath();
    EXPECT_EQ(file->filename(), dir + "probe." + pid() + ".log");
    file->write("x");
    file->flush();
    EXPECT_EQ(kxtest::readFile(file->filename()), "x");
}

} // namespace
