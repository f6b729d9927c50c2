#include "snapper/timer.h"

#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace kxsnapper {

using kxlog::kxLevel_enum;
using Clock = detail::Clock;

namespace {

void logAt(kxLevel_enum level, const char* format, ...) __attribute__((format(printf, 2, 3)));

void logAt(kxLevel_enum level, const char* format, ...)
{
    const auto& log = utils::g_snapperlog;
    if (!log || !log->shouldLog(level)) {
        return;
    }
    va_list args;
    va_start(args, format);
    kxlog::api::kxLogArgs(log, level, format, args);
    va_end(args);
}

// The first to enter silences "QVS", the last to leave restores it, so matches on
// two threads at once cannot save the silenced level as the one to restore.
class QvsSilence {
public:
    QvsSilence()
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        if (state().depth++ == 0) {
            utils::closeLog();
        }
    }
    ~QvsSilence()
    {
        std::lock_guard<std::mutex> lock(state().mutex);
        if (--state().depth == 0) {
            utils::reopenLog();
        }
    }
    QvsSilence(const QvsSilence&) = delete;
    QvsSilence& operator=(const QvsSilence&) = delete;

private:
    struct State {
        std::mutex mutex;
        int depth = 0;
    };
    static State& state()
    {
        static State s;
        return s;
    }
};

} // namespace

// Log lines and the filter installation wait until the rule lock is released:
// a filter on "QVS" runs its callback under its sink's lock, and that callback
// reports into this object.
class RuleMgt::Deferred {
public:
    // Member function: the object is argument 1.
    [[gnu::format(printf, 3, 4)]] void log(kxLevel_enum level, const char* format, ...)
    {
        const auto& logger = utils::g_snapperlog;
        if (!logger || !logger->shouldLog(level)) {
            return;
        }
        char text[256];
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof(text), format, args);
        va_end(args);
        steps.push_back(Step{ false, 0, level, text });
    }

    void enableAction(int id) { steps.push_back(Step{ true, id, kxLevel_enum::OFF, {} }); }

    void run(RuleMgt& owner)
    {
        for (const auto& step : steps) {
            if (step.enable) {
                owner.doRuleEnableAction(step.id);
            } else {
                logAt(step.level, "%s", step.text.c_str());
            }
        }
    }

private:
    struct Step {
        bool enable;
        int id;
        kxLevel_enum level;
        std::string text;
    };
    std::vector<Step> steps;
};

// Rule timers hold this rather than the manager: one may fire after the manager
// is gone, and the destructor waits here for a handler that is running.
struct RuleMgt::Lifetime {
    std::mutex mutex;
    RuleMgt* owner;
};

struct RuleMgt::ReportCbSlot {
    std::mutex mutex;
    ReportRuleCb cb;
};

RuleMgt::ReportCbSlot& RuleMgt::reportCbSlot()
{
    static ReportCbSlot slot;
    return slot;
}

RuleMgt::RuleMgt() : lifetime(std::make_shared<Lifetime>())
{
    lifetime->owner = this;
    clock_gettime(CLOCK_MONOTONIC_COARSE, &initTime);
    initSteady = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
}

RuleMgt::~RuleMgt()
{
    {
        std::lock_guard<std::mutex> lock(lifetime->mutex);
        lifetime->owner = nullptr;
    }
    std::map<int, uint64_t> timers;
    {
        std::lock_guard<std::mutex> lock(mutex);
        timers.swap(callbackTimers);
    }
    for (const auto& entry : timers) {
        Timer::instance().remove(entry.second);
    }
}

void RuleMgt::setCfg(SnapShotCfg* ruleCfg)
{
    std::lock_guard<std::mutex> lock(mutex);
    cfg = ruleCfg;
}

void RuleMgt::setInitTime(const timespec& coarse, int64_t steadyNs)
{
    std::lock_guard<std::mutex> lock(mutex);
    initTime = coarse;
    initSteady = steadyNs;
}

Clock::time_point RuleMgt::sinceStart(int seconds) const
{
    return Clock::time_point(std::chrono::nanoseconds(initSteady)) + std::chrono::seconds(seconds);
}

void RuleMgt::clearLocked()
{
    policies.clear();
    notInvalidRules.clear();
    enabledRules.clear();
    disabledRules.clear();
    repeatCount.clear();
}

void RuleMgt::clear()
{
    std::lock_guard<std::mutex> lock(mutex);
    clearLocked();
}

void RuleMgt::setRulePolicy(const std::map<int, CfgItemPolicy>& policy)
{
    Deferred later;
    {
        std::lock_guard<std::mutex> lock(mutex);
        clearLocked();
        policies = policy;
        for (const auto& entry : policies) {
            const int id = entry.first;
            if (entry.second.offset == 0) {
                addEnableRuleLocked(id, later);
                continue;
            }
            notInvalidRules.insert(id);
            Timer::instance().add(
                sinceStart(entry.second.offset),
                [life = lifetime, id](uint64_t event) {
                    std::lock_guard<std::mutex> alive(life->mutex);
                    if (!life->owner) {
                        return;
                    }
                    logAt(kxLevel_enum::DEBUG, "offset time expired for ruleId: %d.\n", id);
                    Timer::instance().remove(event);
                    life->owner->offsetExpired(id);
                },
                std::chrono::microseconds(0));
        }
    }
    later.run(*this);
}

void RuleMgt::setRulePolicy2(const std::map<int, CfgItemPolicy>& policy)
{
    std::lock_guard<std::mutex> lock(mutex);
    clearLocked();
    policies = policy;
    for (const auto& entry : policies) {
        if (entry.second.offset != 0) {
            notInvalidRules.insert(entry.first);
        } else {
            enabledRules.insert(entry.first);
        }
    }
}

void RuleMgt::addEnableRuleLocked(int id, Deferred& later)
{
    later.enableAction(id);
    enabledRules.insert(id);
    const auto found = policies.find(id);
    if (found == policies.end() || found->second.duration == 0) {
        return;
    }
    Timer::instance().add(
        sinceStart(found->second.offset + found->second.duration),
        [life = lifetime, id](uint64_t event) {
            std::lock_guard<std::mutex> alive(life->mutex);
            if (!life->owner) {
                return;
            }
            logAt(kxLevel_enum::DEBUG, "duration time expired for ruleId: %d.\n", id);
            life->owner->durationExpired(id);
            Timer::instance().remove(event);
        },
        std::chrono::microseconds(0));
}

void RuleMgt::addEnableRule(int id)
{
    Deferred later;
    {
        std::lock_guard<std::mutex> lock(mutex);
        addEnableRuleLocked(id, later);
    }
    later.run(*this);
}

void RuleMgt::offsetExpired(int id)
{
    Deferred later;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (notInvalidRules.erase(id) != 0) {
            addEnableRuleLocked(id, later);
            later.log(kxLevel_enum::DEBUG, "%s: move ruleid from NOT_INVALID to ENABLED: %d\n", "offsetExpired", id);
        } else {
            later.log(kxLevel_enum::INFO, "%s: rule not find in NOT_INVALID: %d\n", "offsetExpired", id);
        }
    }
    later.run(*this);
}

void RuleMgt::durationExpired(int id)
{
    Deferred later;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (enabledRules.erase(id) != 0) {
            disabledRules.insert(id);
            later.log(kxLevel_enum::DEBUG, "%s: move ruleId from ENABLED to DISABLE by time: %d\n", "durationExpired",
                id);
            repeatCount.erase(id);
        } else {
            later.log(kxLevel_enum::INFO, "%s: rule not find in ENABLED: %d\n", "durationExpired", id);
        }
    }
    later.run(*this);
}

bool RuleMgt::flushRepeatLocked(int id, Deferred& later)
{
    if (enabledRules.count(id) == 0) {
        return false;
    }
    const int repetitions = policies[id].repetitions;
    if (repetitions == 0) {
        return true;
    }
    auto& count = repeatCount.emplace(id, 1).first->second;
    if (repetitions < count) {
        later.log(kxLevel_enum::DEBUG, "out of max repeate.\n");
        later.log(kxLevel_enum::DEBUG, "%s: move ruleid from ENABLED to DISABLE: %d\n", "flushRepeat", id);
        disabledRules.insert(id);
        enabledRules.erase(id);
        repeatCount.erase(id);
    } else {
        ++count;
    }
    return true;
}

void RuleMgt::flushRepeat(int id)
{
    admitReport(id);
}

bool RuleMgt::admitReport(int id)
{
    Deferred later;
    bool admitted;
    {
        std::lock_guard<std::mutex> lock(mutex);
        admitted = flushRepeatLocked(id, later);
    }
    later.run(*this);
    return admitted;
}

void RuleMgt::flushTime(const timespec& now)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto elapsed = now.tv_sec - initTime.tv_sec;
    for (auto it = notInvalidRules.begin(); it != notInvalidRules.end();) {
        const auto found = policies.find(*it);
        const int offset = found == policies.end() ? 0 : found->second.offset;
        if (elapsed >= offset) {
            enabledRules.insert(*it);
            it = notInvalidRules.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = enabledRules.begin(); it != enabledRules.end();) {
        const auto found = policies.find(*it);
        const int duration = found == policies.end() ? 0 : found->second.duration;
        if (duration != 0 && elapsed >= duration) {
            disabledRules.insert(*it);
            it = enabledRules.erase(it);
        } else {
            ++it;
        }
    }
}

void RuleMgt::doRuleEnableAction(int id)
{
    if (id != 2) {
        return;
    }
    SnapShotCfg* ruleCfg;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ruleCfg = cfg;
    }
    CfgRule rule;
    if (!ruleCfg || !ruleCfg->getRule(id, rule)) {
        return;
    }
    const auto& condition = rule.condition;
    if (condition.logLevel.empty() || condition.module.empty() || condition.logKeywords.empty()) {
        return;
    }
    // The silencing variant keeps our own messages out of the filter that watches them.
    std::function<void(std::string)> callback =
        condition.module == utils::g_snappshotLogName ? &RuleMgt::logMatchCbForQVS : &RuleMgt::logMatchCb;
    utils::setRuleLogFilter(condition.logLevel, condition.logKeywords, condition.module, std::move(callback));
}

bool RuleMgt::isEnable(int id)
{
    std::lock_guard<std::mutex> lock(mutex);
    return enabledRules.count(id) != 0;
}

RULE_STATE RuleMgt::getState(int id)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (notInvalidRules.count(id) != 0) {
        return RULE_NOT_INVALID;
    }
    if (enabledRules.count(id) != 0) {
        return RULE_ENABLED;
    }
    if (disabledRules.count(id) != 0) {
        return RULE_DISABLE;
    }
    return RULE_NONE;
}

int RuleMgt::getRepetitions(int id)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto found = policies.find(id);
    return found == policies.end() ? -1 : found->second.repetitions;
}

void RuleMgt::pushRuleReport(int id, int64_t stamp)
{
    std::lock_guard<std::mutex> lock(mutex);
    ruleReports[id].push_back(stamp);
}

bool RuleMgt::popRuleReport(int id, int64_t stamp)
{
    std::lock_guard<std::mutex> lock(mutex);
    const auto list = ruleReports.find(id);
    if (list == ruleReports.end()) {
        return false;
    }
    auto& stamps = list->second;
    const auto found = std::find(stamps.begin(), stamps.end(), stamp);
    if (found == stamps.end()) {
        return false;
    }
    stamps.erase(found);
    return true;
}

bool RuleMgt::addCallback(TOOLS_CALLBACK_TYPE type, SampleCb cb, int period, bool enable)
{
    std::lock_guard<std::mutex> lock(mutex);
    callbacks[type] = std::make_pair(cb, period);
    if (!enable) {
        return true;
    }
    const auto running = callbackTimers.find(type);
    if (running != callbackTimers.end()) {
        Timer::instance().remove(running->second);
        callbackTimers.erase(running);
    }
    // A negative period would make a one-shot event whose id is soon handed to
    // someone else; it stops sampling like 0.
    if (period > 0 && cb) {
        callbackTimers[type] = Timer::instance().add(
            Clock::now(), [cb](uint64_t) { cb(); }, std::chrono::seconds(period));
    }
    return true;
}

void RuleMgt::addReportRuleCb(ReportRuleCb cb)
{
    auto& slot = reportCbSlot();
    std::lock_guard<std::mutex> lock(slot.mutex);
    slot.cb = std::move(cb);
}

void RuleMgt::logMatchCb(std::string msg)
{
    ReportRuleCb report;
    {
        auto& slot = reportCbSlot();
        std::lock_guard<std::mutex> lock(slot.mutex);
        report = slot.cb;
    }
    if (!report) {
        logAt(kxLevel_enum::DEBUG, "match log: %s, and do nothing\n", msg.c_str());
        return;
    }
    logAt(kxLevel_enum::DEBUG, "match log: %s, and do report\n", msg.c_str());
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    report(2, now.tv_sec);
}

void RuleMgt::logMatchCbForQVS(std::string msg)
{
    QvsSilence silence;
    logMatchCb(std::move(msg));
}

} // namespace kxsnapper
