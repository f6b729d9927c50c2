#include "log/level_names.h"
#include "log/rotat_timestamp_sink.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <regex>

namespace {

using spdlog::sinks::rotat_timestamp_sink;
using spdlog::sinks::rotat_timestamp_sink_mt;

template <typename Sink>
std::shared_ptr<Sink> makeSink(const std::string& path, size_t maxSize, size_t maxFiles, bool rotateOnOpen = false)
{
    auto sink = std::make_shared<Sink>(path, maxSize, maxFiles, rotateOnOpen, spdlog::file_event_handlers{});
    sink->set_formatter(kxlog::impl::makeFormatter("%v"));
    return sink;
}

// Writes text plus the newline the pattern adds.
void write(spdlog::sinks::sink& sink, const std::string& text)
{
    spdlog::details::log_msg msg("t", spdlog::level::err, text);
    sink.log(msg);
    sink.flush();
}

std::string pidText()
{
    return std::to_string(getpid());
}

std::string base(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

template <typename Sink>
class RotatTimestampSinkTest : public testing::Test {
protected:
    kxtest::TempDir dir;
};

using SinkTypes = testing::Types<spdlog::sinks::rotat_timestamp_sink_mt, spdlog::sinks::rotat_timestamp_sink_st>;
TYPED_TEST_SUITE(RotatTimestampSinkTest, SinkTypes);

TYPED_TEST(RotatTimestampSinkTest, KeepsTheNewestFilesOfItsOwnAndNoOthers)
{
    kxtest::writeFile(this->dir.file("umd.4711.1765296000.log"), "other process\n");
    kxtest::writeFile(this->dir.file("umd.log"), "plain\n");
    auto sink = makeSink<TypeParam>(this->dir.file("umd.log"), 100, 2);
    const std::string lines[] = { std::string(59, 'a'), std::string(59, 'b'), std::string(59, 'c') };
    std::vector<std::string> names;
    for (const auto& line : lines) {
        write(*sink, line);
        names.push_back(base(sink->filename()));
    }
    // Each 60-byte line would push its predecessor's file past 100 bytes.
    EXPECT_NE(names[0], names[1]);
    EXPECT_NE(names[1], names[2]);
    auto listed = kxtest::listDir(this->dir.path());
    std::vector<std::string> expected = { names[1], names[2], "umd.4711.1765296000.log", "umd.log" };
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(listed, expected);
    EXPECT_EQ(kxtest::readFile(this->dir.file(names[1])), lines[1] + "\n");
    EXPECT_EQ(kxtest::readFile(this->dir.file(names[2])), lines[2] + "\n");
    EXPECT_EQ(kxtest::readFile(this->dir.file("umd.4711.1765296000.log")), "other process\n");
}

TYPED_TEST(RotatTimestampSinkTest, LineLongerThanTheLimitGoesWholeIntoAnEmptyFile)
{
    auto sink = makeSink<TypeParam>(this->dir.file("umd.log"), 100, 5);
    std::string longLine(499, 'x');
    write(*sink, longLine);
    auto first = sink->filename();
    EXPECT_EQ(kxtest::readFile(first), longLine + "\n");
    write(*sink, "next");
    EXPECT_NE(sink->filename(), first);
    EXPECT_EQ(kxtest::readFile(sink->filename()), "next\n");
}

TEST(RotatTimestampSink, FileNamesCarryPidSecondAndSameSecondCount)
{
    kxtest::TempDir dir;
    auto sink = makeSink<rotat_timestamp_sink_mt>(dir.file("umd.log"), 1, 100);
    std::regex name("umd\\." + pidText() + "\\.(\\d{10,})(_(\\d+))?\\.log");
    std::string lastSecond;
    int expectedCount = 0;
    for (int i = 0; i < 6; ++i) {
        write(*sink, "line");
        std::smatch match;
        std::string file = base(sink->filename());
        ASSERT_TRUE(std::regex_match(file, match, name)) << file;
        if (match[1] != lastSecond) {
            lastSecond = match[1];
            expectedCount = 0;
            EXPECT_FALSE(match[2].matched) << file;
        } else {
            ++expectedCount;
            EXPECT_EQ(match[3], std::to_string(expectedCount)) << file;
        }
        auto now = std::chrono::duration_cast<std::chrono::seconds>(
            std::chrono::system_clock::now().time_since_epoch()).count();
        EXPECT_LE(std::stoll(match[1]), now);
        EXPECT_GE(std::stoll(match[1]), now - 5);
    }
    EXPECT_EQ(kxtest::listDir(dir.path()).size(), 6u);
}

TEST(RotatTimestampSink, NoFileBeforeFirstUse)
{
    kxtest::TempDir dir;
    auto sink = makeSink<rotat_timestamp_sink_mt>(dir.file("sub/umd.log"), 1000, 5);
    EXPECT_TRUE(kxtest::listDir(dir.path()).empty());
    sink->flush();
    EXPECT_EQ(kxtest::listDir(dir.file("sub")).size(), 1u);

    auto named = makeSink<rotat_timestamp_sink_mt>(dir.file("other/umd.log"), 1000, 5);
    auto file = named->filename();
    EXPECT_EQ(kxtest::listDir(dir.file("other")), std::vector<std::string>{ base(file) });
    EXPECT_EQ(kxtest::readFile(file), "");
}

TEST(RotatTimestampSink, RotateOnOpenRemovesOnlyThisProcessesFiles)
{
    kxtest::TempDir dir;
    std::string pid = pidText();
    std::string otherPid = std::to_string(getpid() + 1);
    const std::pair<std::string, bool> files[] = {
        { "umd." + pid + ".1765296000.log", true },
        { "umd." + pid + ".1765296000_3.log", true },
        { "umd." + otherPid + ".1765296000.log", false },
        { "umd.log", false },
        { "umd." + pid + ".176529600.log", false },   // nine digits
        { "umd." + pid + ".1765296000.txt", false },
        { "xumd." + pid + ".1765296000.log", false },
    };
    for (const auto& f : files) {
        kxtest::writeFile(dir.file(f.first), "old\n");
    }
    auto sink = makeSink<rotat_timestamp_sink_mt>(dir.file("umd.log"), 1000, 5, true);
    auto listed = kxtest::listDir(dir.path());
    for (const auto& f : files) {
        bool present = std::find(listed.begin(), listed.end(), f.first) != listed.end();
        EXPECT_EQ(present, !f.second) << f.first;
    }
}

TEST(RotatTimestampSink, StemWithPatternCharactersIsMatchedLiterally)
{
    kxtest::TempDir dir;
    std::string pid = pidText();
    kxtest::writeFile(dir.file("a+b(c." + pid + ".1765296000.log"), "mine\n");
    kxtest::writeFile(dir.file("aab(c." + pid + ".1765296000.log"), "not mine\n");
    kxtest::writeFile(dir.file("a+b(cx" + pid + ".1765296000.log"), "not mine\n");
    std::shared_ptr<rotat_timestamp_sink_mt> sink;
    ASSERT_NO_THROW(sink = makeSink<rotat_timestamp_sink_mt>(dir.file("a+b(c.log"), 1000, 5, true));
    EXPECT_EQ(kxtest::listDir(dir.path()),
        (std::vector<std::string>{ "a+b(cx" + pid + ".1765296000.log", "aab(c." + pid + ".1765296000.log" }));
}

TEST(RotatTimestampSink, ZeroMaxFilesKeepsOneFile)
{
    kxtest::TempDir dir;
    auto sink = makeSink<rotat_timestamp_sink_mt>(dir.file("umd.log"), 10, 0);
    for (const char* line : { "first line", "second line", "third line" }) {
        write(*sink, line);
    }
    auto listed = kxtest::listDir(dir.path());
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(kxtest::readFile(dir.file(listed[0])), "third line\n");
}

TEST(RotatTimestampSink, ConstructorRefusesBadLimits)
{
    kxtest::TempDir dir;
    try {
        makeSink<rotat_timestamp_sink_mt>(dir.file("umd.log"), 0, 5);
        ADD_FAILURE() << "max_size 0 accepted";
    } catch (const spdlog::spdlog_ex& e) {
        EXPECT_STREQ(e.what(), "rotating sink constructor: max_size arg cannot be zero");
    }
    try {
        makeSink<rotat_timestamp_sink_mt>(dir.file("umd.log"), 10, 200001);
        ADD_FAILURE() << "max_files 200001 accepted";
    } catch (const spdlog::spdlog_ex& e) {
        EXPECT_STREQ(e.what(), "rotating sink constructor: max_files arg cannot exceed 200000");
    }
    EXPECT_NO_THROW(makeSink<rotat_timestamp_sink_mt>(dir.file("umd.log"), 10, 200000));
}

} // namespace
