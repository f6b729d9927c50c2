#ifndef KXDIAG_SNAPPER_TIMER_H
#define KXDIAG_SNAPPER_TIMER_H

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace kxsnapper {

namespace detail {

using Clock = std::chrono::steady_clock;
using Handler = std::function<void(std::uint64_t)>;

// One slot of the timer; the slot index is the event id.
struct Event {
    std::uint64_t id = 0;
    Clock::time_point start;
    std::chrono::microseconds period{ 0 }; // 0 or less: one-shot
    Handler handler;
    bool valid = false;
};

struct Time_event {
    Clock::time_point next;
    std::uint64_t ref;
};

// Orders by due time only, so events due at the same instant keep the order in
// which they were inserted (a multiset inserts equal keys after the existing ones).
struct TimeEventOrder {
    bool operator()(const Time_event& a, const Time_event& b) const { return a.next < b.next; }
};

} // namespace detail

// One worker thread runs every handler, one at a time and in due-time order, with
// the timer unlocked, so handlers may add and remove events themselves.
//
// Ids are slot indices and are handed out again last-in-first-out once an event
// has run its one-shot handler or has been removed. An id is therefore only
// meaningful to its owner while the event is pending (or from inside its own
// handler): removing an id kept after that may cancel whichever event took over
// the slot.
class Timer {
public:
    using Handler = detail::Handler;

    // Process-wide instance, started on first use and stopped at process exit.
    static Timer& instance();

    Timer();
    // Stops the worker and waits for a running handler to return; pending events
    // are dropped without being called.
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // First due at when, then every period if period > 0.
    std::uint64_t add(detail::Clock::time_point when, Handler&& handler, std::chrono::microseconds period);
    // when and period in microseconds, when counted from now.
    std::uint64_t add(std::uint64_t when, Handler&& handler, std::uint64_t period);
    // Cancels the event (a running handler finishes, a periodic one is not
    // scheduled again); false when id was never handed out.
    bool remove(std::uint64_t id);

private:
    void run();

    std::mutex mutex;
    std::condition_variable wakeUp;
    std::thread worker;
    bool done = false;
    std::vector<detail::Event> events;
    std::multiset<detail::Time_event, detail::TimeEventOrder> timeEvents;
    std::deque<std::uint64_t> freeIds;
};

} // namespace kxsnapper

#endif
