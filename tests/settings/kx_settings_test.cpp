#include <kxdiag/settings.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

const char* const kVariables[] = {"KORA_PATH", "KORA_BINARY_CACHE_CLEAN", "KORA_CACHE_DISABLE",
    "KORA_CACHE_PATH", "KORA_CACHE_MAXSIZE", "FRONT_TEST1", "FRONT_TEST2", "FRONT_TEST3", "FRONT_TEST4"};

// Each case starts from a clean environment and a fresh store.
class KxSettings : public testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : kVariables) {
            unsetenv(name);
        }
        kxSettings::release();
    }
    void TearDown() override { kxSettings::release(); }
};

TEST_F(KxSettings, DefaultsWithoutEnvironment)
{
    kxSettings* s = kxSettings::getInstance();
    EXPECT_EQ(kxSettings::getInstance(), s);
    ASSERT_NE(s->getInstalledPath(), nullptr);
    EXPECT_STREQ(s->getInstalledPath(), "/opt/kora");
    EXPECT_EQ(s->getCachePath(), nullptr);
    EXPECT_EQ(s->getBinaryCacheClean(), nullptr);
    EXPECT_EQ(s->getCacheDisable(), nullptr);
    EXPECT_EQ(s->getCacheSize(), nullptr);
    EXPECT_EQ(s->getTest(), nullptr);
    EXPECT_EQ(s->getTestWithRealtime(), nullptr);
    ASSERT_NE(s->getTestWithDefault(), nullptr);
    EXPECT_TRUE(*s->getTestWithDefault());
    ASSERT_NE(s->getTestWithRltAndDef(), nullptr);
    EXPECT_TRUE(*s->getTestWithRltAndDef());

    EXPECT_STREQ(s->installedPathName(), "KORA_PATH");
    EXPECT_STREQ(s->binaryCacheCleanName(), "KORA_BINARY_CACHE_CLEAN");
    EXPECT_STREQ(s->cacheDisableName(), "KORA_CACHE_DISABLE");
    EXPECT_STREQ(s->cachePathName(), "KORA_CACHE_PATH");

    EXPECT_EQ(s->getValue("no_such_key", false), nullptr);
    EXPECT_EQ(s->getValue("no_such_key", true), nullptr);
    EXPECT_EQ(s->getSetting("no_such_key"), nullptr);
    EXPECT_EQ(s->getValueForNotRealtime("no_such_key"), nullptr);
    EXPECT_EQ(s->getEnvName("no_such_key"), nullptr);
}

TEST_F(KxSettings, EnvironmentValues)
{
    setenv("KORA_PATH", "\"/srv/kora\"", 1);
    setenv("KORA_CACHE_MAXSIZE", "4096", 1);
    setenv("KORA_CACHE_PATH", "", 1);
    setenv("FRONT_TEST2", "0", 1);
    setenv("KORA_CACHE_DISABLE", "", 1);
    kxSettings* s = kxSettings::getInstance();
    EXPECT_STREQ(s->getInstalledPath(), "/srv/kora");
    ASSERT_NE(s->getCacheSize(), nullptr);
    EXPECT_EQ(*s->getCacheSize(), 4096u);
    // An empty variable counts as set, to a single blank.
    EXPECT_STREQ(s->getCachePath(), " ");
    EXPECT_FALSE(*s->getTestWithDefault());
}

TEST_F(KxSettings, SizesAreDecimalOnly)
{
    setenv("KORA_CACHE_MAXSIZE", "0x100", 1);
    ASSERT_NE(kxSettings::getInstance()->getCacheSize(), nullptr);
    EXPECT_EQ(*kxSettings::getInstance()->getCacheSize(), 0u);
}

TEST_F(KxSettings, BoolTexts)
{
    const std::pair<const char*, bool> cases[] = {
        {"true", true}, {"1", true}, {"7", true}, {"TRUE", false}, {"yes", false}, {"", false}};
    for (const auto& [text, expected] : cases) {
        setenv("FRONT_TEST1", text, 1);
        kxSettings::release();
        const bool* value = kxSettings::getInstance()->getTest();
        ASSERT_NE(value, nullptr) << text;
        EXPECT_EQ(*value, expected) << "FRONT_TEST1=" << text;
    }
}

TEST_F(KxSettings, CachedValuesWaitForRelease)
{
    setenv("KORA_CACHE_PATH", "/cache/one", 1);
    kxSettings* s = kxSettings::getInstance();
    EXPECT_STREQ(s->getCachePath(), "/cache/one");
    setenv("KORA_CACHE_PATH", "/cache/two", 1);
    EXPECT_STREQ(s->getCachePath(), "/cache/one");
    kxSettings::release();
    EXPECT_STREQ(kxSettings::getInstance()->getCachePath(), "/cache/two");
}

TEST_F(KxSettings, RealtimeValuesFollowTheEnvironment)
{
    kxSettings* s = kxSettings::getInstance();
    setenv("FRONT_TEST4", "0", 1);
    ASSERT_NE(s->getTestWithRltAndDef(), nullptr);
    EXPECT_FALSE(*s->getTestWithRltAndDef());
    unsetenv("FRONT_TEST4");
    EXPECT_TRUE(*s->getTestWithRltAndDef());

    setenv("FRONT_TEST3", "1", 1);
    ASSERT_NE(s->getTestWithRealtime(), nullptr);
    EXPECT_TRUE(*s->getTestWithRealtime());
    unsetenv("FRONT_TEST3");
    EXPECT_EQ(s->getTestWithRealtime(), nullptr);
}

TEST_F(KxSettings, RealtimeKeysAreNotCached)
{
    setenv("FRONT_TEST3", "1", 1);
    kxSettings* s = kxSettings::getInstance();
    EXPECT_EQ(s->getValueForNotRealtime("test_bool_with_realtime"), nullptr);
    EXPECT_EQ(s->getValueForNotRealtime("test_bool_default_and_realtime"), nullptr);
    ASSERT_NE(s->getValue("test_bool_with_realtime", false), nullptr);
}

TEST_F(KxSettings, ShowAllKeyListsTheDefaultIdentity)
{
    testing::internal::CaptureStdout();
    kxSettings::getInstance()->showAllKey();
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out,
        "id:binary_cache_clean, detail: \n\tname:KORA_BINARY_CACHE_CLEAN, is realtime:0\n"
        "id:cache_func_disable, detail: \n\tname:KORA_CACHE_DISABLE, is realtime:0\n"
        "id:cache_path, detail: \n\tname:KORA_CACHE_PATH, is realtime:0\n"
        "id:cache_size, detail: \n\tname:KORA_CACHE_MAXSIZE, is realtime:0\n"
        "id:install_path, detail: \n\tname:KORA_PATH, is realtime:0\n"
        "id:test_bool, detail: \n\tname:FRONT_TEST1, is realtime:0\n"
        "id:test_bool_default_and_realtime, detail: \n\tname:FRONT_TEST4, is realtime:1\n"
        "id:test_bool_with_default, detail: \n\tname:FRONT_TEST2, is realtime:0\n"
        "id:test_bool_with_realtime, detail: \n\tname:FRONT_TEST3, is realtime:1\n");
}

TEST_F(KxSettings, SecondStackTable)
{
    SettingTable table;
    kxSettings::getInstance()->initStack1Identity(table);
    ASSERT_EQ(table.size(), 8u);
    EXPECT_EQ(table.count("test_bool_default_and_realtime"), 0u);
    EXPECT_EQ(table.at("install_path").envName, "STACK1_PATH");
    EXPECT_EQ(table.at("install_path").defaultText, "/opt/stack1");
    EXPECT_EQ(table.at("cache_size").type, SettingBase::TYPE_SIZE);
    EXPECT_TRUE(table.at("test_bool_with_realtime").realtime);
}

TEST_F(KxSettings, ReleaseLoadsAfresh)
{
    setenv("FRONT_TEST1", "1", 1);
    EXPECT_TRUE(*kxSettings::getInstance()->getTest());
    kxSettings::release();
    kxSettings::release();
    unsetenv("FRONT_TEST1");
    EXPECT_EQ(kxSettings::getInstance()->getTest(), nullptr);
}

} // namespace
