#include <kxdiag/kxdiag.h>

#include "log/eid_logger.h"

#include "test_support.h"

#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using kxlog::api::EidLogger;

constexpr int kWarn = 3;
constexpr int kError = 4;
constexpr int kFatal = 5;
constexpr int kOff = 6;

struct Event {
    int node;
    std::string text;
};

std::vector<Event>& events()
{
    static std::vector<Event> seen;
    return seen;
}

void collect(int node, const char* text, size_t length)
{
    events().push_back({node, std::string(text, length)});
}

class EidLog : public testing::Test {
protected:
    void SetUp() override
    {
        events().clear();
        registerEidLogCallback(collect);
    }
    void TearDown() override { registerEidLogCallback(nullptr); }

    // One device on node 5, bus 0000:3b:00.0.
    static void mapOneDevice()
    {
        setEidLoggerDevicePCIBusId(0, "0000:3b:00.0");
        setEidLoggerDeviceId(5, 0);
    }
};

std::string withNul(const std::string& text)
{
    return text + std::string(1, '\0');
}

TEST_F(EidLog, CallbackText)
{
    mapOneDevice();
    struct Case {
        int module;
        uint32_t id;
        const char* message;
        const char* detail1;
        const char* detail2;
        std::string expected;
    };
    const Case cases[] = {
        {1, 0x12, "boom", "d1", "d2", "KORA.UMD EID (0000:3b:00.0): 0x3012, (eid_logger_test)boom, d1, d2"},
        {2, 0x3000, "m", nullptr, nullptr, "KORA.CCL EID (0000:3b:00.0): 0x3000, (eid_logger_test)m"},
        {3, 0xABC0FF, "m", "", "only2", "KORA.ACL EID (0000:3b:00.0): 0xABF0FF, (eid_logger_test)m, only2"},
        {0, 0, "m", "x", "", "KORA.SDK EID (0000:3b:00.0): 0x3000, (eid_logger_test)m, x"},
        {7, 1, nullptr, nullptr, nullptr, "KORA.SDK EID (0000:3b:00.0): 0x3001, (eid_logger_test)"},
    };
    for (const Case& c : cases) {
        events().clear();
        kxEidLog(kError, c.module, 5, c.id, c.message, c.detail1, c.detail2);
        ASSERT_EQ(events().size(), 1u);
        EXPECT_EQ(events()[0].node, 5);
        EXPECT_EQ(events()[0].text, withNul(c.expected));
    }
    EXPECT_TRUE(kxlog::api::currentModuleEnumString.empty());
}

TEST_F(EidLog, OnlyErrorsAndAboveReachTheCallbackWhateverTheLevel)
{
    mapOneDevice();
    kxEidLog(kWarn, 1, 5, 1, "warn", nullptr, nullptr);
    EXPECT_TRUE(events().empty());

    EidLogger::getInstance().setLevel(kxlog::kxLevel_enum::OFF);
    kxEidLog(kError, 1, 5, 1, "error", nullptr, nullptr);
    kxEidLog(kFatal, 1, 5, 1, "fatal", nullptr, nullptr);
    kxEidLog(kOff, 1, 5, 1, "off", nullptr, nullptr);
    ASSERT_EQ(events().size(), 3u);
    EXPECT_NE(events()[2].text.find(")off"), std::string::npos);

    registerEidLogCallback(nullptr);
    kxEidLog(kError, 1, 5, 1, "none", nullptr, nullptr);
    EXPECT_EQ(events().size(), 3u);
}

TEST_F(EidLog, UnknownIdsFallBack)
{
    testing::internal::CaptureStderr();
    kxEidLog(kError, 1, 9, 1, "empty maps", nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "kxEidLog:Invalid gpuNodeId(nodeId:9)\nFailed to get devicePCIBusId(deviceId:-1)\n");
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0].node, -1);
    EXPECT_NE(events()[0].text.find("EID (0000:00:00.0)"), std::string::npos);

    // Node 3 maps to device 4, which has no address: the smallest device's is used.
    setEidLoggerDevicePCIBusId(2, "0000:02:00.0");
    setEidLoggerDevicePCIBusId(1, "0000:01:00.0");
    setEidLoggerDeviceId(3, 4);
    events().clear();
    testing::internal::CaptureStderr();
    kxEidLog(kError, 1, 8, 1, "m", nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
        "kxEidLog:Invalid gpuNodeId(nodeId:8)\nFailed to get devicePCIBusId(deviceId:4)\n");
    ASSERT_EQ(events().size(), 1u);
    EXPECT_EQ(events()[0].node, 3);
    EXPECT_NE(events()[0].text.find("EID (0000:01:00.0)"), std::string::npos);
}

TEST_F(EidLog, DeviceMapsKeepTheFirstMapping)
{
    setEidLoggerDevicePCIBusId(-1, "0000:ff:00.0");
    setEidLoggerDevicePCIBusId(0, nullptr);
    setEidLoggerDevicePCIBusId(0, "0000:0a:00.0");
    setEidLoggerDevicePCIBusId(0, "0000:0b:00.0");
    setEidLoggerDevicePCIBusId(1, "0000:1a:00.0");
    setEidLoggerDeviceId(7, 0);
    setEidLoggerDeviceId(7, 1);
    testing::internal::CaptureStderr();
    kxEidLog(kError, 1, 7, 1, "m", nullptr, nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    ASSERT_EQ(events().size(), 1u);
    EXPECT_NE(events()[0].text.find("EID (0000:0a:00.0)"), std::string::npos) << events()[0].text;
}

TEST_F(EidLog, SyslogRecordLayout)
{
    mapOneDevice();
    std::ostringstream out;
    auto capture = std::make_shared<spdlog::sinks::ostream_sink_mt>(out);
    capture->set_formatter(kxlog::api::makeEidFormatter("[%P.%t] %*.%M.%N %v"));
    EidLogger::getInstance().getLogger()->sinks().push_back(capture);

    kxEidLog(kError, 1, 5, 0x12, "first", nullptr, nullptr);
    setenv("KORA_PATH", "/nonexistent-kxdiag", 1);
    setEidSdkVersion();
    kxEidLog(kError, 7, 5, 0x12, "second", "d", nullptr);
    kxEidLog(1, 1, 5, 0x12, "below info", nullptr, nullptr);

    const std::string prefix = "[" + std::to_string(getpid()) + "." + std::to_string(syscall(SYS_gettid)) + "] ";
    EXPECT_EQ(out.str(),
        withNul(prefix + ".UMD.ERROR EID (0000:3b:00.0): 0x3012, (eid_logger_test)first")
            + withNul(prefix + "SDK.20000000.SDK.ERROR EID (0000:3b:00.0): 0x3012, (eid_logger_test)second, d"));
}

TEST_F(EidLog, SdkVersionFromVersionFile)
{
    kxtest::TempDir dir;
    setenv("KORA_PATH", dir.path().c_str(), 1);
    setEidSdkVersion();
    EXPECT_EQ(kxlog::api::sdkVersionStr(), "SDK.20000000");

    struct Case {
        const char* firstLine;
        const char* expected;
    };
    const Case cases[] = {
        {"Version:2.33.0.5\nVersion:9.9\n", "SDK.02033005"},
        {"Version:2.33", "SDK.2"},
        {"Version:7-rc1", "SDK.7"},
        {"Version:2.33-rc1", "SDK.2"},
        {"Version: 2.33", "SDK. 2"},
        {"Version:123.4567.89.123", "SDK.123456789123"},
        {"Version:1.2.3", "SDK."},
        {"Version:1-2-3", "SDK."},
        {"Build:Version:2.33", "SDK."},
        {"Release 2.33", "SDK."},
        {"Version:7", "SDK."},
        {"", "SDK."},
    };
    for (const Case& c : cases) {
        kxtest::writeFile(dir.file("Version.txt"), c.firstLine);
        setEidSdkVersion();
        EXPECT_EQ(kxlog::api::sdkVersionStr(), c.expected) << c.firstLine;
    }
}

TEST(EidHelpers, StringSplitDropsEmptyPieces)
{
    struct Case {
        std::string text;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"a:b", {"a", "b"}},
        {"::a::b::", {"a", "b"}},
        {"", {}},
        {":", {}},
        {"abc", {"abc"}},
        {" a : b", {" a ", " b"}},
    };
    std::vector<std::string> out{"stale"};
    for (const Case& c : cases) {
        kxlog::api::stringSplit(c.text, ':', out);
        EXPECT_EQ(out, c.expected) << c.text;
    }
}

TEST(EidHelpers, ProgramNameAndHousekeeping)
{
    std::string name = "unchanged";
    kxlog::api::getProgramName(name);
    EXPECT_EQ(name, "eid_logger_test");

    EidLogger& eid = EidLogger::getInstance();
    EXPECT_TRUE(eid.isRegister());
    EXPECT_EQ(eid.getLoggerName(), "KORA.EID");
    EXPECT_EQ(spdlog::get("KORA.EID"), eid.getLogger());
    EXPECT_TRUE(eid.should_log(kxlog::kxLevel_enum::INFO));
    EXPECT_FALSE(eid.should_log(kxlog::kxLevel_enum::DEBUG));

    eid.unregisterLogger();
    EXPECT_FALSE(eid.isRegister());
    EXPECT_EQ(eid.getLoggerName(), "Logger not registered");
    EXPECT_EQ(spdlog::get("KORA.EID"), nullptr);
    testing::internal::CaptureStderr();
    eid.log(kxlog::kxLevel_enum::ERROR, kxlog::api::KORA_MODULE_UMD, 0, 1, "m", "", "");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Logger not registered\n");

    // The next entry point registers a fresh logger.
    setEidLoggerDeviceId(0, 0);
    EXPECT_TRUE(eid.isRegister());
    EXPECT_NE(spdlog::get("KORA.EID"), nullptr);
}

TEST(EidConcurrency, FirstEventsFromSeveralThreadsRegisterOnce)
{
    testing::internal::CaptureStderr();
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([] { kxEidLog(kError, 1, 0, 1, "race", nullptr, nullptr); });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("failed"), std::string::npos) << err;
    EXPECT_NE(spdlog::get("KORA.EID"), nullptr);
}

// Whether a process already receives datagrams on the socket.
bool socketOwned(const char* path)
{
    int fd = ::socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", path);
    bool owned = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return owned;
}

bool waitFor(const std::function<bool()>& condition)
{
    for (int i = 0; i < 100; ++i) {
        if (condition()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

TEST(EidSyslog, EventReachesARealSystemLogger)
{
    const char* rsyslogd = "/usr/sbin/rsyslogd";
    if (::geteuid() != 0) {
        GTEST_SKIP() << "starting rsyslogd on /dev/log needs root";
    }
    if (::access(rsyslogd, X_OK) != 0) {
        GTEST_SKIP() << "rsyslogd is not installed (scripts/bootstrap installs it)";
    }
    struct stat info {};
    if (::lstat("/dev/log", &info) == 0) {
        GTEST_SKIP() << (socketOwned("/dev/log") ? "a system logger already owns /dev/log"
                                                 : "/dev/log exists but belongs to no logger; left alone");
    }

    kxtest::TempDir dir;
    const std::string messages = dir.file("messages");
    kxtest::writeFile(dir.file("rsyslog.conf"),
        "global(workDirectory=\"" + dir.path() + "\")\n"
        "module(load=\"imuxsock\" SysSock.Name=\"/dev/log\" SysSock.RateLimit.Interval=\"0\")\n"
        "template(name=\"kxdiagRaw\" type=\"string\" string=\"%syslogtag%%msg%\\n\")\n"
        "*.* action(type=\"omfile\" file=\"" + messages + "\" template=\"kxdiagRaw\")\n");
    const std::string conf = dir.file("rsyslog.conf");
    const std::string pidFile = dir.file("rsyslogd.pid");
    std::vector<std::string> args{rsyslogd, "-n", "-f", conf, "-i", pidFile};
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    pid_t daemon = 0;
    ASSERT_EQ(::posix_spawn(&daemon, rsyslogd, nullptr, nullptr, argv.data(), environ), 0);
    struct Stop {
        pid_t pid;
        ~Stop()
        {
            ::kill(pid, SIGTERM);
            int status = 0;
            ::waitpid(pid, &status, 0);
            if (!socketOwned("/dev/log")) {
                ::unlink("/dev/log");
            }
        }
    } stop{daemon};
    ASSERT_TRUE(waitFor([] { return socketOwned("/dev/log"); })) << "rsyslogd did not open /dev/log";

    kxEidLog(kError, 1, 0, 0x42, "rsyslog check", "detail", nullptr);

    const std::string expected = "[" + std::to_string(getpid()) + "." + std::to_string(syscall(SYS_gettid))
        + "] .UMD.ERROR EID (0000:00:00.0): 0x3042, (eid_logger_test)rsyslog check, detail";
    EXPECT_TRUE(waitFor([&] { return kxtest::readFile(messages).find(expected) != std::string::npos; }))
        << "logged: " << kxtest::readFile(messages);
    EXPECT_NE(kxtest::readFile(messages).find("kora"), std::string::npos);
}

} // namespace
