#include "snapper/timer.h"

#include <kxdiag/snapper.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

using kxsnapper::Timer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kPatience = 5s; // how long a test waits for something that must happen

// Collects values from handlers and lets the test wait for a number of them.
class Recorder {
public:
    void push(std::uint64_t value)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            values.push_back(value);
        }
        changed.notify_all();
    }
    bool waitFor(std::size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return values.size() >= count; });
    }
    std::vector<std::uint64_t> get()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return values;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::uint64_t> values;
};

Timer::Handler noop()
{
    return [](std::uint64_t) {};
}

const auto kFar = Clock::now() + 1h;

TEST(TimerOrder, SameInstantRunsInAddOrderAndEarlierAdditionsAreServedFirst)
{
    Timer timer;
    Recorder order;
    // Something far away is being waited for when nearer events arrive.
    timer.add(kFar, [&](std::uint64_t) { order.push(99); }, 0us);
    const auto when = Clock::now() + 300ms;
    for (std::uint64_t tag = 0; tag < 5; ++tag) {
        timer.add(when, [&order, tag](std::uint64_t) { order.push(tag); }, 0us);
    }
    timer.add(when - 200ms, [&](std::uint64_t) { order.push(10); }, 0us);
    ASSERT_TRUE(order.waitFor(6));
    EXPECT_EQ(order.get(), (std::vector<std::uint64_t>{ 10, 0, 1, 2, 3, 4 }));
}

TEST(TimerPeriodic, LateEventCatchesUpAndKeepsItsSchedule)
{
    Timer timer;
    constexpr auto period = 100ms;
    constexpr auto firstCallTakes = 500ms;
    std::mutex mutex;
    std::vector<Clock::time_point> starts;
    Clock::time_point firstEnd;
    Recorder calls;
    const auto t0 = Clock::now() + 10ms;
    const auto id = timer.add(
        t0,
        [&](std::uint64_t) {
            auto now = Clock::now();
            bool first;
            {
                std::lock_guard<std::mutex> lock(mutex);
                first = starts.empty();
                starts.push_back(now);
            }
            if (first) {
                std::this_thread::sleep_for(firstCallTakes);
                std::lock_guard<std::mutex> lock(mutex);
                firstEnd = Clock::now();
            }
            calls.push(0);
        },
        period);
    ASSERT_TRUE(calls.waitFor(8));
    ASSERT_TRUE(timer.remove(id));
    std::lock_guard<std::mutex> lock(mutex);
    // Never early: call k is due at t0 + k * period however late the others were.
    for (std::size_t k = 0; k < starts.size(); ++k) {
        EXPECT_GE(starts[k], t0 + k * period) << "call " << k;
    }
    // The calls due at 100..400 ms, missed during the slow first call, follow it
    // back to back; restarting the schedule from the end of the slow call would
    // put the fourth one at least 400 ms later.
    EXPECT_LT(starts[4] - firstEnd, 300ms);
}

TEST(TimerIds, SlotsAreReusedLastInFirstOut)
{
    Timer timer;
    EXPECT_EQ(timer.add(kFar, noop(), 0us), 0u);
    EXPECT_EQ(timer.add(kFar, noop(), 0us), 1u);
    EXPECT_EQ(timer.add(kFar, noop(), 0us), 2u);
    EXPECT_TRUE(timer.remove(0));
    EXPECT_TRUE(timer.remove(2));
    EXPECT_EQ(timer.add(kFar, noop(), 0us), 2u);
    EXPECT_EQ(timer.add(kFar, noop(), 0us), 0u);
    EXPECT_EQ(timer.add(kFar, noop(), 0us), 3u);

    // A one-shot event gives its id back once it has run.
    Recorder ran;
    const auto id = timer.add(Clock::now(), [&](std::uint64_t own) { ran.push(own); }, 0us);
    EXPECT_EQ(id, 4u);
    ASSERT_TRUE(ran.waitFor(1));
    EXPECT_EQ(ran.get().front(), id);
    // The worker frees the id just after the handler returns; until then new
    // events get fresh slots.
    const auto deadline = Clock::now() + kPatience;
    std::uint64_t next;
    while ((next = timer.add(kFar, noop(), 0us)) != id && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    EXPECT_EQ(next, id);
}

TEST(TimerRemove, PendingEventNeverRunsAndItsIdIsFreeAtOnce)
{
    Timer timer;
    std::atomic<int> calls{ 0 };
    const auto one = timer.add(Clock::now() + 300ms, [&](std::uint64_t) { ++calls; }, 0us);
    const auto periodic = timer.add(Clock::now() + 300ms, [&](std::uint64_t) { ++calls; }, 10000us);
    EXPECT_TRUE(timer.remove(one));
    EXPECT_TRUE(timer.remove(periodic));
    EXPECT_EQ(timer.add(kFar, noop(), 0us), periodic);
    EXPECT_EQ(timer.add(kFar, noop(), 0us), one);
    // Something later that does run shows the removed ones had their chance.
    Recorder marker;
    timer.add(Clock::now() + 400ms, [&](std::uint64_t) { marker.push(0); }, 0us);
    ASSERT_TRUE(marker.waitFor(1));
    EXPECT_EQ(calls.load(), 0);
}

TEST(TimerRemove, FromInsideItsOwnHandlerStopsAPeriodicEvent)
{
    Timer timer;
    std::atomic<int> calls{ 0 };
    bool removedInside = false;
    std::uint64_t idDuringRun = 0;
    std::uint64_t idAfterRun = 0;
    Recorder done;
    const auto when = Clock::now() + 20ms;
    const auto periodic = timer.add(
        when,
        [&](std::uint64_t own) {
            ++calls;
            removedInside = timer.remove(own);
            // Still running: the id is not free yet.
            idDuringRun = timer.add(kFar, noop(), 0us);
        },
        10000us);
    // Due at the same instant, so it runs right after the periodic handler returned.
    const auto follower = timer.add(
        when,
        [&](std::uint64_t) {
            idAfterRun = timer.add(kFar, noop(), 0us);
            done.push(0);
        },
        0us);
    ASSERT_TRUE(done.waitFor(1));
    std::this_thread::sleep_for(100ms); // ten periods
    EXPECT_EQ(calls.load(), 1);
    EXPECT_TRUE(removedInside);
    EXPECT_NE(idDuringRun, periodic);
    EXPECT_NE(idDuringRun, follower);
    EXPECT_EQ(idAfterRun, periodic);
}

TEST(TimerRemove, OutOfRangeIdsAreRejected)
{
    Timer timer;
    EXPECT_FALSE(timer.remove(0));
    timer.add(kFar, noop(), 0us);
    timer.add(kFar, noop(), 0us);
    struct Case {
        std::uint64_t id;
        bool known;
    };
    for (const Case& c : { Case{ 2, false }, Case{ 3, false }, Case{ std::numeric_limits<std::uint64_t>::max(), false },
             Case{ 1, true }, Case{ 0, true } }) {
        EXPECT_EQ(timer.remove(c.id), c.known) << c.id;
    }
}

TEST(TimerAdd, DueTimeBeyondTheClockRangeNeverComes)
{
    Timer timer;
    std::atomic<int> farCalls{ 0 };
    Recorder periodicCalls;
    timer.add(std::numeric_limits<std::uint64_t>::max(), [&](std::uint64_t) { ++farCalls; }, 0);
    timer.add(std::uint64_t{ 1 } << 62, [&](std::uint64_t) { ++farCalls; }, 0);
    // Runs once; its next time is out of reach.
    timer.add(std::uint64_t{ 0 }, [&](std::uint64_t) { periodicCalls.push(0); },
        std::numeric_limits<std::uint64_t>::max());
    Recorder marker;
    timer.add(std::uint64_t{ 50000 }, [&](std::uint64_t) { marker.push(0); }, 0);
    ASSERT_TRUE(marker.waitFor(1));
    EXPECT_EQ(farCalls.load(), 0);
    EXPECT_EQ(periodicCalls.get().size(), 1u);
}

TEST(TimerAdd, ThrowingHandlerLeavesTheWorkerRunning)
{
    Timer timer;
    Recorder calls;
    timer.add(Clock::now(), [](std::uint64_t) { throw std::runtime_error("broken"); }, 0us);
    timer.add(Clock::now(), [](std::uint64_t) { throw 42; }, 0us);
    timer.add(Clock::now() + 10ms, [&](std::uint64_t) { calls.push(0); }, 0us);
    ASSERT_TRUE(calls.waitFor(1));
}

TEST(TimerLifetime, DestructionDropsPendingEventsWithoutWaitingForThem)
{
    std::atomic<int> calls{ 0 };
    const auto begin = Clock::now();
    {
        Timer timer;
        timer.add(Clock::now() + 500ms, [&](std::uint64_t) { ++calls; }, 0us);
        timer.add(Clock::now() + 60s, [&](std::uint64_t) { ++calls; }, 1000us);
        timer.add(kFar, [&](std::uint64_t) { ++calls; }, 0us);
    }
    EXPECT_LT(Clock::now() - begin, 2s);
    EXPECT_EQ(calls.load(), 0);
}

TEST(TimerLifetime, DestructionWaitsForTheRunningHandlerOnly)
{
    std::atomic<bool> finished{ false };
    std::atomic<int> later{ 0 };
    Recorder started;
    {
        Timer timer;
        timer.add(Clock::now(),
            [&](std::uint64_t) {
                started.push(0);
                std::this_thread::sleep_for(200ms);
                finished = true;
            },
            0us);
        timer.add(Clock::now() + 1ms, [&](std::uint64_t) { ++later; }, 0us);
        ASSERT_TRUE(started.waitFor(1));
    }
    EXPECT_TRUE(finished.load());
    EXPECT_EQ(later.load(), 0);
}

TEST(TimerLifetime, HandlerMayEndTheProcess)
{
    // exit() from a handler runs the static destructors, the timer's among them,
    // on the worker thread itself.
    testing::GTEST_FLAG(death_test_style) = "threadsafe";
    EXPECT_EXIT(
        {
            Timer::instance().add(std::uint64_t{ 0 }, [](std::uint64_t) { std::exit(3); }, 0);
            std::this_thread::sleep_for(10s);
        },
        testing::ExitedWithCode(3), "");
}

TEST(TimerConcurrency, ThreadsAddAndRemoveTheirOwnEventsWhileHandlersRun)
{
    constexpr int threads = 4;
    constexpr int rounds = 200;
    Timer timer;
    std::atomic<int> nearCalls{ 0 };
    std::atomic<int> farCalls{ 0 };
    Recorder allNear;
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            for (int i = 0; i < rounds; ++i) {
                timer.add(Clock::now() + std::chrono::microseconds(i % 7 * 100),
                    [&](std::uint64_t) {
                        if (++nearCalls == threads * rounds) {
                            allNear.push(0);
                        }
                    },
                    0us);
                const auto far = timer.add(kFar, [&](std::uint64_t) { ++farCalls; }, 0us);
                EXPECT_TRUE(timer.remove(far));
            }
        });
    }
    for (auto& worker : workers) {
        worker.join();
    }
    ASSERT_TRUE(allNear.waitFor(1));
    EXPECT_EQ(nearCalls.load(), threads * rounds);
    EXPECT_EQ(farCalls.load(), 0);
}

TEST(TimerExports, ForwardToTheProcessWideTimer)
{
    Recorder ran;
    const auto first = kxsnapper::add(0ul, [&](unsigned long own) { ran.push(own); }, 0ul);
    const auto second = kxsnapper::add(
        Clock::now() + 10ms, [&](unsigned long own) { ran.push(own); }, std::chrono::microseconds(0));
    ASSERT_TRUE(ran.waitFor(2));
    EXPECT_EQ(ran.get(), (std::vector<std::uint64_t>{ first, second }));

    std::atomic<int> calls{ 0 };
    const auto pending = kxsnapper::add(3600ul * 1000000ul, [&](unsigned long) { ++calls; }, 0ul);
    EXPECT_TRUE(kxsnapper::remove(pending));
    EXPECT_FALSE(kxsnapper::remove(std::numeric_limits<unsigned long>::max()));
    EXPECT_EQ(&Timer::instance(), &Timer::instance());
}

} // namespace
