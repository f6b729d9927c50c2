#include "snapper/timer.h"

#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <exception>
#include <limits>
#include <utility>

namespace kxsnapper {

namespace {

using detail::Clock;
using std::chrono::microseconds;
using std::chrono::nanoseconds;

// from + delta (delta >= 0), held at the clock's end instead of overflowing: an
// event that far away simply never comes due.
Clock::time_point later(Clock::time_point from, microseconds delta)
{
    const auto longest = std::chrono::duration_cast<microseconds>(nanoseconds::max());
    if (delta >= longest) {
        return Clock::time_point::max();
    }
    const nanoseconds step = delta;
    if (from > Clock::time_point::max() - step) {
        return Clock::time_point::max();
    }
    return from + step;
}

microseconds toMicroseconds(std::uint64_t count)
{
    const auto most = static_cast<std::uint64_t>(std::numeric_limits<microseconds::rep>::max());
    return microseconds(static_cast<microseconds::rep>(count < most ? count : most));
}

void logFailure(std::uint64_t id, const char* what)
{
    auto& log = utils::g_snapperlog;
    if (log && log->shouldLog(kxlog::kxLevel_enum::DEBUG)) {
        kxlog::api::kxLog(log, kxlog::kxLevel_enum::DEBUG, "timer event %llu failed: %s\n",
            static_cast<unsigned long long>(id), what);
    }
}

// A throwing handler must not take the worker, and with it the process, down.
void call(const Timer::Handler& handler, std::uint64_t id)
{
    try {
        handler(id);
    } catch (const std::exception& e) {
        logFailure(id, e.what());
    } catch (...) {
        logFailure(id, "unknown exception");
    }
}

} // namespace

Timer& Timer::instance()
{
    static Timer timer;
    return timer;
}

Timer::Timer()
{
    // Started here rather than in the member list so that the worker only ever
    // sees fully constructed members.
    worker = std::thread([this] { run(); });
}

Timer::~Timer()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    wakeUp.notify_all();
    if (worker.get_id() == std::this_thread::get_id()) {
        // A handler ended the process (exit() runs the static destructors on
        // this very thread): joining itself would abort, and the worker never
        // returns to its loop anyway.
        worker.detach();
    } else {
        worker.join();
    }
}

std::uint64_t Timer::add(Clock::time_point when, Handler&& handler, microseconds period)
{
    std::uint64_t id;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (freeIds.empty()) {
            id = events.size();
            events.emplace_back();
        } else {
            id = freeIds.back();
            freeIds.pop_back();
        }
        auto& event = events[id];
        event.id = id;
        event.start = when;
        event.period = period;
        event.handler = std::move(handler);
        event.valid = true;
        timeEvents.insert(detail::Time_event{ when, id });
    }
    wakeUp.notify_all();
    return id;
}

std::uint64_t Timer::add(std::uint64_t when, Handler&& handler, std::uint64_t period)
{
    return add(later(Clock::now(), toMicroseconds(when)), std::move(handler), toMicroseconds(period));
}

bool Timer::remove(std::uint64_t id)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (id >= events.size()) {
            return false;
        }
        auto& event = events[id];
        event.valid = false;
        event.handler = nullptr;
        // Not found means the handler is running (the worker frees the id when it
        // returns) or the id is free already.
        for (auto it = timeEvents.begin(); it != timeEvents.end(); ++it) {
            if (it->ref == id) {
                timeEvents.erase(it);
                freeIds.push_back(id);
                break;
            }
        }
    }
    wakeUp.notify_all();
    return true;
}

void Timer::run()
{
    std::unique_lock<std::mutex> lock(mutex);
    while (!done) {
        if (timeEvents.empty()) {
            wakeUp.wait(lock);
            continue;
        }
        const auto first = timeEvents.begin();
        // A copy: the entry may be erased while the wait has the lock released.
        const Clock::time_point due = first->next;
        if (Clock::now() < due) {
            wakeUp.wait_until(lock, due);
            continue;
        }
        const std::uint64_t id = first->ref;
        timeEvents.erase(first);
        // The handler may remove its own event, which drops the slot's copy.
        const Handler handler = events[id].handler;
        lock.unlock();
        call(handler, id);
        lock.lock();
        // events may have grown while unlocked: index again.
        auto& event = events[id];
        if (event.valid && event.period.count() > 0) {
            // Advance from the previous due time so a late event catches up.
            timeEvents.insert(detail::Time_event{ later(due, event.period), id });
        } else {
            event.valid = false;
            event.handler = nullptr;
            freeIds.push_back(id);
        }
    }
}

unsigned long add(unsigned long when, std::function<void(unsigned long)>&& handler, unsigned long period)
{
    return Timer::instance().add(when, std::move(handler), period);
}

unsigned long add(std::chrono::steady_clock::time_point when, std::function<void(unsigned long)>&& handler,
    std::chrono::microseconds period)
{
    return Timer::instance().add(when, std::move(handler), period);
}

bool remove(unsigned long id)
{
    return Timer::instance().remove(id);
}

} // namespace kxsnapper
