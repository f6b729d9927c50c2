#include <kxdiag/snapper.h>

#include "cfg_capture.h"
#include "test_support.h"

#include <json/json.h>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace {

using namespace kxsnapper;

// A decoder that keeps what it was given, or fails or throws on request.
class Recorder final : public JsonCfgTools {
public:
    enum class Mode { Accept, Refuse, Throw };
    explicit Recorder(Mode m = Mode::Accept) : mode(m) {}

    bool parseToCfg(const Json::Value& root) override
    {
        calls++;
        last = root;
        if (mode == Mode::Throw) {
            throw std::runtime_error("decoder bug");
        }
        return mode == Mode::Accept;
    }

    Mode mode;
    int calls = 0;
    Json::Value last;
};

void setOrUnset(const char* name, const char* value)
{
    if (value != nullptr) {
        setenv(name, value, 1);
    } else {
        unsetenv(name);
    }
}

TEST(CfgLookup, EtcPathFirstThenKoraPathEtc)
{
    kxtest::TempDir etc;
    kxtest::TempDir kora;
    kxtest::writeFile(etc.file("present.json"), "{}");
    const std::string etcDir = etc.path();
    const std::string koraDir = kora.path();
    struct Case {
        const char* name;
        const char* etc;
        const char* kora;
        std::string file;
        std::string expected;
    };
    const Case cases[] = {
        {"etc has the file", etcDir.c_str(), koraDir.c_str(), "present.json", etcDir + "/present.json"},
        {"etc lacks it: kora, existing or not", etcDir.c_str(), koraDir.c_str(), "absent.json",
            koraDir + "/etc/absent.json"},
        {"empty etc counts as unset", "", koraDir.c_str(), "present.json", koraDir + "/etc/present.json"},
        {"only etc, file missing", etcDir.c_str(), nullptr, "absent.json", ""},
        {"nothing set", nullptr, nullptr, "present.json", ""},
        {"empty kora counts as unset", nullptr, "", "present.json", ""},
    };
    Recorder tools;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setOrUnset("KORA_ETC_PATH", c.etc);
        setOrUnset("KORA_PATH", c.kora);
        EXPECT_EQ(tools.getCfgFile(c.file), c.expected);
    }
}

TEST(CfgLookup, NoPathReportsTheBareName)
{
    unsetenv("KORA_ETC_PATH");
    unsetenv("KORA_PATH");
    kxtest::QvsMessages messages(spdlog::level::info);
    Recorder tools;
    Json::CharReaderBuilder builder;
    EXPECT_FALSE(tools.parseToCfgFromPath(builder, "tools.json"));
    EXPECT_EQ(messages.text(), "can not get cfg file:tools.json!\n\x1e\n");
    EXPECT_EQ(tools.calls, 0);
}

TEST(CfgLookup, MissingFileUnderKoraPathIsReported)
{
    kxtest::TempDir kora;
    unsetenv("KORA_ETC_PATH");
    setenv("KORA_PATH", kora.path().c_str(), 1);
    kxtest::QvsMessages messages(spdlog::level::info);
    Recorder tools;
    Json::CharReaderBuilder builder;
    EXPECT_FALSE(tools.parseToCfgFromPath(builder, "tools.json"));
    EXPECT_TRUE(messages.has("can not get cfg file:tools.json!\n"));
}

TEST(CfgLookup, UnreadableFileIsReported)
{
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads files whatever their mode";
    }
    kxtest::TempDir etc;
    kxtest::writeFile(etc.file("tools.json"), "{}");
    chmod(etc.file("tools.json").c_str(), 0);
    setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    kxtest::QvsMessages messages(spdlog::level::info);
    Recorder tools;
    Json::CharReaderBuilder builder;
    EXPECT_FALSE(tools.parseToCfgFromPath(builder, "tools.json"));
    EXPECT_TRUE(messages.has("can not get cfg file:tools.json!\n"));
}

TEST(CfgLoad, CommentsAreAccepted)
{
    kxtest::TempDir etc;
    kxtest::writeFile(etc.file("tools.json"),
        "// tools of this machine\n{\n  /* trap */ \"trapDump\": {\"mode\": 3} // fast\n}\n");
    setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    EXPECT_EQ(ToolsCfgTool::instance()->cfg.trap.mode, 3);
    EXPECT_EQ(ToolsCfgTool::instance(), ToolsCfgTool::instance());
}

TEST(CfgLoad, SingletonFallsBackToKoraPathEtc)
{
    kxtest::TempDir etc;
    kxtest::TempDir kora;
    ASSERT_EQ(mkdir(kora.file("etc").c_str(), 0755), 0);
    kxtest::writeFile(kora.file("etc/tools.json"), R"({"trapDump": {"cache": 8}})");
    setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    setenv("KORA_PATH", kora.path().c_str(), 1);
    EXPECT_EQ(ToolsCfgTool::instance()->cfg.trap.cacheSize, 8);
}

TEST(CfgLoad, ParseAndDecodeFailuresAreReported)
{
    kxtest::TempDir etc;
    setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    Json::CharReaderBuilder builder;

    kxtest::writeFile(etc.file("bad.json"), "{\"a\": ");
    {
        kxtest::QvsMessages messages(spdlog::level::info);
        Recorder tools;
        EXPECT_FALSE(tools.parseToCfgFromPath(builder, "bad.json"));
        EXPECT_TRUE(messages.has("some mistakes when parse json file: "));
        EXPECT_EQ(tools.calls, 0);
    }

    kxtest::writeFile(etc.file("good.json"), "{\"a\": 1}");
    {
        kxtest::QvsMessages messages(spdlog::level::info);
        Recorder tools(Recorder::Mode::Refuse);
        EXPECT_FALSE(tools.parseToCfgFromPath(builder, "good.json"));
        EXPECT_TRUE(messages.has("transfer file:" + etc.file("good.json") + " to config erro.\n"));
    }
    {
        Recorder tools(Recorder::Mode::Throw);
        EXPECT_NO_THROW(EXPECT_FALSE(tools.parseToCfgFromPath(builder, "good.json")));
    }
    {
        Recorder tools;
        EXPECT_TRUE(tools.parseToCfgFromPath(builder, "good.json"));
        EXPECT_EQ(tools.last["a"].asInt(), 1);
    }
}

TEST(CfgLoad, TextFailuresAreReported)
{
    Json::CharReaderBuilder builder;
    {
        kxtest::QvsMessages messages(spdlog::level::info);
        Recorder tools;
        EXPECT_FALSE(tools.parseToCfgFromStr(builder, ""));
        EXPECT_EQ(messages.text(), "");
        EXPECT_FALSE(tools.parseToCfgFromStr(builder, "[1,"));
        EXPECT_TRUE(messages.has("read json str erro:"));
    }
    {
        kxtest::QvsMessages messages(spdlog::level::info);
        Recorder tools(Recorder::Mode::Refuse);
        EXPECT_FALSE(tools.parseToCfgFromStr(builder, "{}"));
        EXPECT_EQ(messages.text(), "decode json str erro.\n\x1e\n");
    }
    {
        Recorder tools(Recorder::Mode::Throw);
        EXPECT_NO_THROW(EXPECT_FALSE(tools.parseToCfgFromStr(builder, "{}")));
    }
}

TEST(CfgLoad, DirectoryInPlaceOfTheFileIsAParseError)
{
    kxtest::TempDir etc;
    ASSERT_EQ(mkdir(etc.file("tools.json").c_str(), 0755), 0);
    setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    Json::CharReaderBuilder builder;
    Recorder tools;
    EXPECT_NO_THROW(EXPECT_FALSE(tools.parseToCfgFromPath(builder, "tools.json")));
}

} // namespace
