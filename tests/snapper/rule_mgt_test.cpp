#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include "cfg_capture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kxsnapper;
using kxlog::kxLevel_enum;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPatience = 5s; // how long a test waits for something that must happen

timespec coarseNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return now;
}

int64_t steadyNs(Clock::time_point at)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(at.time_since_epoch()).count();
}

// Starts the manager's clocks secondsAgo seconds in the past.
void startAgo(RuleMgt& mgt, int secondsAgo)
{
    timespec coarse = coarseNow();
    coarse.tv_sec -= secondsAgo;
    mgt.setInitTime(coarse, steadyNs(Clock::now() - std::chrono::seconds(secondsAgo)));
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds patience = kPatience)
{
    const auto deadline = Clock::now() + patience;
    while (!done()) {
        if (Clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

CfgItemPolicy policy(int offset, int duration, int repetitions = 0)
{
    CfgItemPolicy p;
    p.offset = offset;
    p.duration = duration;
    p.repetitions = repetitions;
    return p;
}

CfgRule logRule(int id, std::string module, std::string level, std::string keywords)
{
    CfgRule rule;
    rule.id = id;
    rule.condition.module = std::move(module);
    rule.condition.logLevel = std::move(level);
    rule.condition.logKeywords = std::move(keywords);
    return rule;
}

// What the report callback received.
class Reports {
public:
    void push(int id, int64_t stamp)
    {
        std::lock_guard<std::mutex> lock(mutex);
        calls.emplace_back(id, stamp);
    }
    std::vector<std::pair<int, int64_t>> get()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }

private:
    std::mutex mutex;
    std::vector<std::pair<int, int64_t>> calls;
};

Reports& reports()
{
    static Reports r;
    return r;
}

void recordReport(int id, int64_t stamp)
{
    reports().push(id, stamp);
}

TEST(RuleMgt, TimersWalkTheStateTableFromTheStartTime)
{
    kxtest::QvsMessages messages;
    RuleMgt mgt;
    startAgo(mgt, 0);
    mgt.setRulePolicy({ { 1, policy(0, 0) }, { 3, policy(1, 1) } });
    EXPECT_EQ(mgt.getState(1), RULE_ENABLED);
    EXPECT_EQ(mgt.getState(3), RULE_NOT_INVALID);
    EXPECT_FALSE(mgt.isEnable(3));

    ASSERT_TRUE(waitUntil([&] { return mgt.getState(3) != RULE_NOT_INVALID; }));
    EXPECT_EQ(mgt.getState(3), RULE_ENABLED);
    ASSERT_TRUE(waitUntil([&] { return mgt.getState(3) == RULE_DISABLE; }));
    EXPECT_EQ(mgt.getState(1), RULE_ENABLED);

    for (const char* text : { "offset time expired for ruleId: 3.\n",
             "offsetExpired: move ruleid from NOT_INVALID to ENABLED: 3\n", "duration time expired for ruleId: 3.\n",
             "durationExpired: move ruleId from ENABLED to DISABLE by time: 3\n" }) {
        EXPECT_TRUE(messages.has(text)) << text << " in\n" << messages.text();
    }
}

TEST(RuleMgt, OverdueOffsetsAndDurationsFireAtOnce)
{
    RuleMgt mgt;
    startAgo(mgt, 10);
    mgt.setRulePolicy({ { 4, policy(2, 3) }, { 5, policy(2, 30) } });
    ASSERT_TRUE(waitUntil([&] { return mgt.getState(4) == RULE_DISABLE; }, 2s));
    ASSERT_TRUE(waitUntil([&] { return mgt.getState(5) == RULE_ENABLED; }, 2s));
}

TEST(RuleMgt, TransitionsFromTheWrongStateAreReportedAtInfoAndIgnored)
{
    kxtest::QvsMessages messages(spdlog::level::info);
    RuleMgt mgt;
    mgt.setRulePolicy2({ { 1, policy(0, 0) }, { 3, policy(100, 0) } });
    EXPECT_EQ(mgt.getState(1), RULE_ENABLED);
    EXPECT_EQ(mgt.getState(3), RULE_NOT_INVALID);

    mgt.offsetExpired(1);
    mgt.durationExpired(3);
    EXPECT_EQ(mgt.getState(1), RULE_ENABLED);
    EXPECT_EQ(mgt.getState(3), RULE_NOT_INVALID);
    EXPECT_TRUE(messages.has("offsetExpired: rule not find in NOT_INVALID: 1\n")) << messages.text();
    EXPECT_TRUE(messages.has("durationExpired: rule not find in ENABLED: 3\n")) << messages.text();

    // The moves themselves are DEBUG lines, left out at INFO.
    mgt.offsetExpired(3);
    mgt.durationExpired(3);
    EXPECT_EQ(mgt.getState(3), RULE_DISABLE);
    EXPECT_FALSE(messages.has("move ruleid")) << messages.text();
    EXPECT_FALSE(messages.has("move ruleId")) << messages.text();
}

TEST(RuleMgt, RepetitionsNLetNPlusOneReportsThrough)
{
    kxtest::QvsMessages messages;
    for (int limit : { 0, 1, 2, 5 }) {
        RuleMgt mgt;
        mgt.setRulePolicy2({ { 5, policy(0, 0, limit) } });
        int handled = 0;
        for (int report = 0; report < 12; ++report) {
            // What the report path does: only an enabled rule is counted and handled.
            if (mgt.isEnable(5)) {
                mgt.flushRepeat(5);
                ++handled;
            }
        }
        if (limit == 0) {
            EXPECT_EQ(handled, 12);
            EXPECT_EQ(mgt.getState(5), RULE_ENABLED);
            continue;
        }
        EXPECT_EQ(handled, limit + 1) << "repetitions " << limit;
        EXPECT_EQ(mgt.getState(5), RULE_DISABLE);
        EXPECT_TRUE(messages.has("out of max repeate.\n")) << messages.text();
        EXPECT_TRUE(messages.has("flushRepeat: move ruleid from ENABLED to DISABLE: 5\n")) << messages.text();
    }
}

TEST(RuleMgt, AdmitReportCountsOnlyEnabledRules)
{
    RuleMgt mgt;
    mgt.setRulePolicy2({ { 5, policy(0, 0, 1) }, { 6, policy(9, 0, 1) } });
    EXPECT_TRUE(mgt.admitReport(5));
    EXPECT_TRUE(mgt.admitReport(5));
    EXPECT_FALSE(mgt.admitReport(5));
    EXPECT_FALSE(mgt.admitReport(6));
    EXPECT_FALSE(mgt.admitReport(7));
    EXPECT_EQ(mgt.getState(7), RULE_NONE);
}

TEST(RuleMgt, FlushTimeMovesRulesByWholeSecondsSinceStart)
{
    RuleMgt mgt;
    const timespec start{ 1000, 900000000 };
    mgt.setInitTime(start, steadyNs(Clock::now()));
    mgt.setRulePolicy2({ { 1, policy(0, 0) }, { 3, policy(5, 10) }, { 6, policy(20, 0) }, { 8, policy(0, 4) } });

    struct Step {
        long second;
        RULE_STATE rule1, rule3, rule6, rule8;
    };
    const Step steps[] = {
        // Only 3.1 s have passed, but whole seconds count: 1004 - 1000 reaches rule 8's 4 s.
        { 1004, RULE_ENABLED, RULE_NOT_INVALID, RULE_NOT_INVALID, RULE_DISABLE },
        { 1012, RULE_ENABLED, RULE_DISABLE, RULE_NOT_INVALID, RULE_DISABLE },
        { 1020, RULE_ENABLED, RULE_DISABLE, RULE_ENABLED, RULE_DISABLE },
    };
    for (const auto& step : steps) {
        mgt.flushTime(timespec{ step.second, 0 });
        EXPECT_EQ(mgt.getState(1), step.rule1) << step.second;
        EXPECT_EQ(mgt.getState(3), step.rule3) << step.second;
        EXPECT_EQ(mgt.getState(6), step.rule6) << step.second;
        EXPECT_EQ(mgt.getState(8), step.rule8) << step.second;
    }
}

TEST(RuleMgt, ClearAndNewPoliciesForgetStatesButNotReports)
{
    RuleMgt mgt;
    mgt.setRulePolicy2({ { 1, policy(0, 0, 3) } });
    mgt.pushRuleReport(1, 42);
    mgt.pushRuleReport(1, 42);
    EXPECT_EQ(mgt.getRepetitions(1), 3);
    EXPECT_EQ(mgt.getRepetitions(2), -1);

    mgt.clear();
    EXPECT_EQ(mgt.getState(1), RULE_NONE);
    EXPECT_EQ(mgt.getRepetitions(1), -1);
    EXPECT_FALSE(mgt.popRuleReport(1, 7));
    EXPECT_TRUE(mgt.popRuleReport(1, 42));
    EXPECT_TRUE(mgt.popRuleReport(1, 42));
    EXPECT_FALSE(mgt.popRuleReport(1, 42));
    EXPECT_FALSE(mgt.popRuleReport(9, 42));
}

class RuleMgtFilter : public testing::Test {
protected:
    void SetUp() override
    {
        RuleMgt::addReportRuleCb(&recordReport);
        watched = kxlog::api::registerLogger("RULE_T", false);
        other = kxlog::api::registerLogger("RULE_O", false);
    }

    // Logs text on logger and says how many reports it caused.
    size_t reportsOf(const std::shared_ptr<kxlog::api::kxlogger>& logger, kxLevel_enum level, const char* text)
    {
        const size_t before = reports().get().size();
        kxlog::api::kxLog(logger, level, "%s", text);
        return reports().get().size() - before;
    }

    SnapShotCfg cfg;
    std::shared_ptr<kxlog::api::kxlogger> watched;
    std::shared_ptr<kxlog::api::kxlogger> other;
};

TEST_F(RuleMgtFilter, EnablingRuleTwoInstallsItsFilterOnce)
{
    cfg.insertRule(logRule(2, "RULE_T", "error", "boom"));
    RuleMgt mgt;
    mgt.setCfg(&cfg);
    mgt.setRulePolicy({ { 2, policy(0, 0) } });

    const timespec before = coarseNow();
    EXPECT_EQ(reportsOf(watched, kxLevel_enum::ERROR, "a boom here"), 1u);
    const auto calls = reports().get();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first, 2);
    EXPECT_GE(calls[0].second, before.tv_sec);
    EXPECT_LE(calls[0].second, coarseNow().tv_sec);

    EXPECT_EQ(reportsOf(watched, kxLevel_enum::FATAL, "boom"), 1u);
    EXPECT_EQ(reportsOf(watched, kxLevel_enum::WARN, "a boom here"), 0u);
    EXPECT_EQ(reportsOf(watched, kxLevel_enum::ERROR, "nothing"), 0u);
    EXPECT_EQ(reportsOf(other, kxLevel_enum::ERROR, "a boom here"), 0u);

    // Leaving ENABLED keeps the filter.
    mgt.durationExpired(2);
    EXPECT_EQ(reportsOf(watched, kxLevel_enum::ERROR, "boom"), 1u);
}

TEST_F(RuleMgtFilter, NoFilterWithoutACompleteRuleTwo)
{
    struct Case {
        const char* name;
        CfgRule rule;
        int enabled;
        bool withCfg;
    };
    const Case cases[] = {
        { "no cfg", logRule(2, "RULE_T", "error", "boom"), 2, false },
        { "no keyword", logRule(2, "RULE_T", "error", ""), 2, true },
        { "no level", logRule(2, "RULE_T", "", "boom"), 2, true },
        { "no module", logRule(2, "", "error", "boom"), 2, true },
        { "other rule", logRule(3, "RULE_T", "error", "boom"), 3, true },
    };
    for (const auto& c : cases) {
        SnapShotCfg local;
        local.insertRule(c.rule);
        RuleMgt mgt;
        if (c.withCfg) {
            mgt.setCfg(&local);
        }
        mgt.addEnableRule(c.enabled);
        EXPECT_TRUE(mgt.isEnable(c.enabled)) << c.name;
        EXPECT_EQ(reportsOf(watched, kxLevel_enum::ERROR, "boom"), 0u) << c.name;
    }
}

TEST_F(RuleMgtFilter, FlushTimeAheadOfTheOffsetTimerSkipsTheFilter)
{
    kxtest::QvsMessages messages(spdlog::level::info);
    cfg.insertRule(logRule(2, "RULE_T", "error", "boom"));
    RuleMgt mgt;
    mgt.setCfg(&cfg);
    const timespec start = coarseNow();
    mgt.setInitTime(start, steadyNs(Clock::now()));
    mgt.setRulePolicy({ { 2, policy(1, 0) } });
    mgt.flushTime(timespec{ start.tv_sec + 1, 0 });
    EXPECT_TRUE(mgt.isEnable(2));

    ASSERT_TRUE(waitUntil([&] { return messages.has("offsetExpired: rule not find in NOT_INVALID: 2\n"); }));
    EXPECT_TRUE(mgt.isEnable(2));
    EXPECT_EQ(reportsOf(watched, kxLevel_enum::ERROR, "boom"), 0u);
}

TEST_F(RuleMgtFilter, OwnLoggerIsSilencedWhileItsMatchReports)
{
    cfg.insertRule(logRule(2, "QVS", "error", "boom"));
    kxlog::api::setLevel("QVS", "info");
    const std::string level = kxlog::api::getLogLevel("QVS");
    std::vector<std::string> levelsSeen;
    RuleMgt::addReportRuleCb([&](int id, int64_t) {
        levelsSeen.push_back(kxlog::api::getLogLevel("QVS"));
        EXPECT_EQ(id, 2);
    });
    RuleMgt mgt;
    mgt.setCfg(&cfg);
    mgt.setRulePolicy({ { 2, policy(0, 0) } });

    kxlog::api::kxLog(utils::g_snapperlog, kxLevel_enum::ERROR, "%s", "boom in QVS");
    ASSERT_EQ(levelsSeen.size(), 1u);
    EXPECT_EQ(levelsSeen[0], "off");
    EXPECT_EQ(kxlog::api::getLogLevel("QVS"), level);
}

TEST(RuleMgtMatch, ReportsRuleTwoOnlyWithAReportCallback)
{
    kxtest::QvsMessages messages;
    RuleMgt::logMatchCb("first %s");
    EXPECT_TRUE(messages.has("match log: first %s, and do nothing\n")) << messages.text();
    EXPECT_TRUE(reports().get().empty());

    RuleMgt::addReportRuleCb(&recordReport);
    RuleMgt::logMatchCb("second");
    EXPECT_TRUE(messages.has("match log: second, and do report\n")) << messages.text();
    ASSERT_EQ(reports().get().size(), 1u);
    EXPECT_EQ(reports().get()[0].first, 2);
}

class Counter {
public:
    bool tick()
    {
        ++count;
        return true;
    }
    std::atomic<int> count{ 0 };
};

TEST(RuleMgtSampling, RunsAtOnceThenPeriodicallyUntilPeriodZero)
{
    Counter counter;
    RuleMgt mgt;
    auto cb = [&] { return counter.tick(); };
    EXPECT_TRUE(mgt.addCallback(TOOLS_CALLBACK_UMD_HOTSPOT, cb, 1, true));
    ASSERT_TRUE(waitUntil([&] { return counter.count >= 1; }, 500ms));
    EXPECT_EQ(counter.count, 1);
    ASSERT_TRUE(waitUntil([&] { return counter.count >= 2; }, 2s));

    EXPECT_TRUE(mgt.addCallback(TOOLS_CALLBACK_UMD_HOTSPOT, cb, 0, true));
    const int stoppedAt = counter.count;
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(counter.count, stoppedAt);
}

TEST(RuleMgtSampling, DisabledRegistrationOnlyRecordsAndDestructionStopsSampling)
{
    Counter recorded;
    Counter sampled;
    {
        RuleMgt mgt;
        EXPECT_TRUE(mgt.addCallback(TOOLS_CALLBACK_UMD_HOTSPOT, [&] { return recorded.tick(); }, 1, false));
        // A rule timer still pending when the manager goes.
        mgt.setRulePolicy({ { 7, policy(1, 0) } });
        EXPECT_TRUE(mgt.addCallback(static_cast<TOOLS_CALLBACK_TYPE>(1), [&] { return sampled.tick(); }, 1, true));
        ASSERT_TRUE(waitUntil([&] { return sampled.count >= 1; }, 500ms));
    }
    const int stoppedAt = sampled.count;
    std::this_thread::sleep_for(1500ms);
    EXPECT_EQ(sampled.count, stoppedAt);
    EXPECT_EQ(recorded.count, 0);
}

// Timers, the polled clock, reports, log matches and sampling all reach one
// manager at once; the repetition limit must hold across concurrent reports.
TEST(RuleMgtConcurrency, TimersPollingReportsAndLogMatchesAtOnce)
{
    SnapShotCfg cfg;
    cfg.insertRule(logRule(2, "RULE_C", "error", "boom"));
    auto logger = kxlog::api::registerLogger("RULE_C", false);
    Counter sampled;
    static RuleMgt* shared = nullptr;
    static std::atomic<int> matched{ 0 };
    RuleMgt mgt;
    shared = &mgt;
    RuleMgt::addReportRuleCb([](int id, int64_t stamp) {
        if (shared->admitReport(id)) {
            shared->pushRuleReport(id, stamp);
            shared->popRuleReport(id, stamp);
        }
        ++matched;
    });
    mgt.setCfg(&cfg);
    startAgo(mgt, 0);

    std::map<int, CfgItemPolicy> policies{ { 2, policy(0, 0) }, { 9, policy(0, 0, 50) } };
    for (int id = 10; id < 20; ++id) {
        policies[id] = policy(id % 2, 1 + id % 3, id % 4);
    }
    mgt.setRulePolicy(policies);
    mgt.addCallback(TOOLS_CALLBACK_UMD_HOTSPOT, [&] { return sampled.tick(); }, 1, true);

    std::atomic<bool> stop{ false };
    std::atomic<int> admitted9{ 0 };
    std::vector<std::thread> threads;
    threads.emplace_back([&] {
        timespec now = coarseNow();
        while (!stop) {
            mgt.flushTime(now);
            now.tv_sec += now.tv_nsec % 2;
            now.tv_nsec ^= 1;
            std::this_thread::sleep_for(1ms);
        }
    });
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                if (mgt.admitReport(9)) {
                    ++admitted9;
                }
                for (int id = 10; id < 20; ++id) {
                    if (mgt.isEnable(id)) {
                        mgt.flushRepeat(id);
                    }
                    mgt.getState(id);
                }
                std::this_thread::sleep_for(1ms);
            }
        });
        threads.emplace_back([&] {
            for (int i = 0; i < 200; ++i) {
                kxlog::api::kxLog(logger, kxLevel_enum::ERROR, "boom %d", i);
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    threads.emplace_back([&] {
        for (int i = 0; i < 20 && !stop; ++i) {
            mgt.addCallback(static_cast<TOOLS_CALLBACK_TYPE>(1), [] { return true; }, i % 2, true);
            std::this_thread::sleep_for(50ms);
        }
    });
    std::this_thread::sleep_for(2500ms);
    stop = true;
    for (auto& thread : threads) {
        thread.join();
    }

    EXPECT_EQ(admitted9, 51);
    EXPECT_EQ(mgt.getState(9), RULE_DISABLE);
    EXPECT_EQ(matched, 400);
    EXPECT_GE(sampled.count, 2);
    for (int id = 10; id < 20; ++id) {
        EXPECT_EQ(mgt.getState(id), RULE_DISABLE) << id;
    }
}

} // namespace
