#include "snapper/rule_data_mgt.h"
#include "snapper/timer.h"
#include "snapper/zip_tools.h"

#include <kxdiag/snapper.h>

#include <chrono>
#include <ctime>
#include <memory>
#include <mutex>

namespace kxsnapper {

using detail::snapLog;
using kxlog::kxLevel_enum;

namespace {

// The pipeline that snapperInit wires. Created after the timer, so it is destroyed
// before the timer's worker stops: rule and window timers never outlive it
// unnoticed. zipTool is declared first because the rule data manager uses it.
struct Pipeline {
    std::mutex mutex; // guards the pointers and times, not the objects
    std::shared_ptr<ZipTools> g_zipTool;
    std::shared_ptr<SnapShotCfgTool> g_snapShotCfgTools;
    std::shared_ptr<RuleDataMgt> g_ruleDataMgt;
    std::shared_ptr<RuleMgt> g_ruleMgt;
    timespec g_InitTime{};
    timespec g_LatestTime{};
    int64_t g_initTimeCpp = 0;
};

Pipeline& pipeline()
{
    Timer::instance();
    static Pipeline p;
    return p;
}

// What an entry point works with, copied under the lock so a concurrent
// snapperInit cannot change it underneath.
struct Parts {
    std::shared_ptr<SnapShotCfgTool> cfg;
    std::shared_ptr<RuleDataMgt> data;
    std::shared_ptr<RuleMgt> rules;
};

Parts parts()
{
    Pipeline& p = pipeline();
    std::lock_guard<std::mutex> lock(p.mutex);
    return Parts{ p.g_snapShotCfgTools, p.g_ruleDataMgt, p.g_ruleMgt };
}

} // namespace

void snapperInit()
{
    Pipeline& p = pipeline();
    timespec initTime{};
    if (clock_gettime(CLOCK_MONOTONIC_COARSE, &initTime) != 0) {
        snapLog(kxLevel_enum::DEBUG, "get current time fail.\n");
        initTime = timespec{};
    }
    const int64_t initSteady = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::steady_clock::now().time_since_epoch())
                                   .count();
    std::shared_ptr<SnapShotCfgTool> cfg;
    std::shared_ptr<RuleDataMgt> data;
    std::shared_ptr<RuleMgt> rules;
    std::shared_ptr<ZipTools> zipTool;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.g_InitTime = initTime;
        p.g_LatestTime = initTime;
        p.g_initTimeCpp = initSteady;
        if (!p.g_snapShotCfgTools) {
            p.g_snapShotCfgTools = std::make_shared<SnapShotCfgTool>();
        }
        if (!p.g_ruleDataMgt) {
            p.g_ruleDataMgt = std::make_shared<RuleDataMgt>();
        }
        if (!p.g_ruleMgt) {
            p.g_ruleMgt = std::make_shared<RuleMgt>();
        }
        if (!p.g_zipTool) {
            p.g_zipTool = std::make_shared<ZipTools>();
        }
        cfg = p.g_snapShotCfgTools;
        data = p.g_ruleDataMgt;
        rules = p.g_ruleMgt;
        zipTool = p.g_zipTool;
    }
    // Outside the lock: setting the policies installs rule 2's log filter, whose
    // matches come back through reportRule.
    rules->setInitTime(initTime, initSteady);
    RuleMgt::addReportRuleCb(reportRule);
    rules->setCfg(&cfg->cfg);
    rules->setRulePolicy(cfg->cfg.getRulePolicy());
    data->setZipTool(zipTool.get());
    SnapperFileMgt::instance();
}

void reportRule(int id, long stamp)
{
    snapLog(kxLevel_enum::DEBUG, "REPORT RULE ID:%d-%lld\n", id, static_cast<long long>(stamp));
    const Parts current = parts();
    if (!current.rules || !current.cfg || !current.data) {
        return;
    }
    if (!current.rules->admitReport(id)) {
        return;
    }
    CfgRule rule;
    if (!current.cfg->cfg.getRule(id, rule)) {
        snapLog(kxLevel_enum::INFO, "RULE ID %d is not an available\n", id);
        return;
    }
    current.data->dataReport(id, stamp, rule.data);
}

bool isRuleEnable(int id)
{
    const Parts current = parts();
    return current.rules && current.rules->isEnable(id);
}

void setSnapperLatestTime(const timespec& now)
{
    Pipeline& p = pipeline();
    Parts current;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        p.g_LatestTime = now;
        current = Parts{ p.g_snapShotCfgTools, p.g_ruleDataMgt, p.g_ruleMgt };
    }
    if (!current.rules || !current.data) {
        return;
    }
    current.data->flush(static_cast<int64_t>(now.tv_sec));
    current.rules->flushTime(now);
}

bool registerCallback(TOOLS_CALLBACK_TYPE type, std::function<bool()> cb)
{
    if (type != TOOLS_CALLBACK_UMD_HOTSPOT) {
        return false;
    }
    const Parts current = parts();
    if (!current.rules) {
        return false;
    }
    const UmdHotSpot& umd = ToolsCfgTool::instance()->cfg.hotspot.umd;
    return current.rules->addCallback(type, std::move(cb), umd.period, umd.enable);
}

} // namespace kxsnapper
