#include "snapper/rule_data_mgt.h"

#include "snapper/zip_tools.h"

#include <kxdiag/ctrl.h>
#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>

namespace kxsnapper {

using detail::snapLog;
using kxlog::kxLevel_enum;
using Lock = std::lock_guard<std::recursive_mutex>;

namespace {

int64_t coarseSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return static_cast<int64_t>(now.tv_sec);
}

} // namespace

RuleDataMgt::RuleDataMgt() : pid(static_cast<int>(getpid())) {}

void RuleDataMgt::setZipTool(ZipTools* tool)
{
    Lock lock(mutex);
    zipTool = tool;
}

std::string RuleDataMgt::toolPattern(BaseLogCfg& tool)
{
    if (!tool.log.save) {
        return "";
    }
    SnapperFileMgt::instance()->flush(tool.type);
    // The file name is one of ours and holds no wildcard: the '*' getReg puts in
    // is the only one, and the directory around it is quoted.
    const std::string glob = SnapperFileHelper::getReg(ToolsCfg::getSnapperFileName(tool.type), pid);
    const auto star = glob.find('*');
    const std::string dir = LogCfg::getRealDir(tool.log.logDir);
    if (star == std::string::npos) {
        return shellQuote(dir + glob);
    }
    return shellQuote(dir + glob.substr(0, star)) + "*" + shellQuote(glob.substr(star + 1));
}

std::string RuleDataMgt::getFiles(RuleDataType type, ToolsCfg& cfg)
{
    switch (type) {
    case DATA_HOTSPOT:
        return toolPattern(cfg.hotspot.cpu) + " " + toolPattern(cfg.hotspot.umd) + " " + toolPattern(cfg.hotspot.mem);
    case DATA_TRAP:
        return toolPattern(cfg.trap);
    case DATA_LOG:
        return shellQuote(kxlog::api::getKxlogPath() + "/umd." + std::to_string(pid) + ".") + "*" + shellQuote(".log");
    case DATA_PROFILER:
        return toolPattern(cfg.profile);
    case DATA_TRACER:
        return toolPattern(cfg.trace);
    case DATA_HANG:
        return toolPattern(cfg.hang);
    }
    snapLog(kxLevel_enum::DEBUG, "cannot deal this data type:%d\n", static_cast<int>(type));
    return "";
}

std::string RuleDataMgt::getZipName(int id, int64_t stamp)
{
    return "snapshot_" + std::to_string(pid) + "." + std::to_string(id) + "." + std::to_string(stamp) + ".zip";
}

void RuleDataMgt::dataReport(int id, int64_t stamp, CfgRuleData data)
{
    detail::HeldMessages held;
    Lock lock(mutex);
    if (zipTool == nullptr) {
        return;
    }
    const std::string name = getZipName(id, stamp);
    for (const RuleDataType kind : data.toDataType()) {
        const std::string files = getFiles(kind, ToolsCfgTool::instance()->cfg);
        // Separators alone name no file.
        if (files.find_first_not_of(' ') != std::string::npos) {
            zipTool->zip(zipOptions, name, files);
        }
    }
}

void RuleDataMgt::dataStart(int id, int64_t stamp, CfgRuleData data)
{
    dataHappen(id, stamp, data, true);
}

void RuleDataMgt::dataStart(int id, int64_t stamp, CfgRuleData data, int seconds)
{
    detail::HeldMessages held;
    Lock lock(mutex);
    dataHappen(id, stamp, data, true);
    std::weak_ptr<RuleDataMgt> self = weak_from_this();
    add(
        std::chrono::steady_clock::now() + std::chrono::seconds(seconds),
        [self, id, stamp, data](unsigned long event) {
            if (auto mgt = self.lock()) {
                snapLog(kxLevel_enum::DEBUG, "rule data expired:id-%d,stamp-%lld\n", id, static_cast<long long>(stamp));
                mgt->dataEnd(id, stamp, data);
            }
            kxsnapper::remove(event);
        },
        std::chrono::microseconds(0));
}

void RuleDataMgt::dataStart2(int id, int64_t stamp, CfgRuleData data, int seconds)
{
    detail::HeldMessages held;
    Lock lock(mutex);
    dataHappen(id, stamp, data, true);
    deadlines.push_back(DeadlineRule{ coarseSeconds() + seconds, id, stamp, data });
}

void RuleDataMgt::dataEnd(int id, int64_t stamp, CfgRuleData data)
{
    detail::HeldMessages held;
    Lock lock(mutex);
    dataHappen(id, stamp, data, false);
    if (zipTool != nullptr) {
        zipTool->zip(data.toDataType(), id, stamp);
    }
}

void RuleDataMgt::dataHappen(int id, int64_t stamp, CfgRuleData data, bool start)
{
    detail::HeldMessages held;
    Lock lock(mutex);
    snapLog(kxLevel_enum::DEBUG, "%s: id-%d,stamp-%lld,start-%d.\n", "dataHappen", id, static_cast<long long>(stamp),
        start ? 1 : 0);
    for (const RuleDataType kind : data.toDataType()) {
        dealEvent(RuleEventId{ id, stamp }, start, kind);
    }
}

void RuleDataMgt::dealEvent(RuleEventId event, bool start, RuleDataType kind)
{
    if (static_cast<int>(kind) < 0 || static_cast<size_t>(kind) >= activeEvents.size()) {
        return;
    }
    detail::HeldMessages held;
    Lock lock(mutex);
    std::vector<RuleEventId>& events = activeEvents[static_cast<size_t>(kind)];
    if (start) {
        if (events.empty()) {
            dataCtrl(kind, true);
        }
        events.push_back(event);
        return;
    }
    const auto found = std::find(events.begin(), events.end(), event);
    if (found != events.end()) {
        events.erase(found);
    } else {
        snapLog(kxLevel_enum::INFO, "erro event id:%d,%lld\n", event.id, static_cast<long long>(event.stamp));
    }
    if (events.empty()) {
        dataCtrl(kind, false);
    }
}

void RuleDataMgt::dataCtrl(RuleDataType kind, bool on)
{
    switch (kind) {
    case DATA_HOTSPOT:
        dataCtrlHotSpot(on);
        return;
    case DATA_LOG:
        dataCtrlLog(on);
        return;
    case DATA_PROFILER:
    case DATA_TRACER:
        return;
    default:
        snapLog(kxLevel_enum::DEBUG, "%s unknow type\n", "dataCtrl");
    }
}

void RuleDataMgt::dataCtrlLog(bool on)
{
    if (on) {
        kxlog::api::setLevel(kxLevel_enum::DEBUG);
    } else if (std::getenv("QVLOG_LEVEL") != nullptr) {
        kxlog::api::loadEnvLevel();
    } else {
        kxlog::api::setLevel(kxLevel_enum::ERROR);
    }
}

void RuleDataMgt::dataCtrlHotSpot(bool on)
{
    if (setenv("FEATURE_MASK_PROFILE", on ? "0xFFFFFFFFFFFFFFFF" : "0x0", 1) == 0) {
        kxctrl::Flag::reloadMaskEnv("FEATURE_MASK_PROFILE");
    }
}

void RuleDataMgt::flush(int64_t now)
{
    detail::HeldMessages held;
    Lock lock(mutex);
    std::sort(deadlines.begin(), deadlines.end(),
        [](const DeadlineRule& a, const DeadlineRule& b) { return a.deadline < b.deadline; });
    while (!deadlines.empty() && deadlines.front().deadline <= now) {
        const DeadlineRule due = deadlines.front();
        deadlines.erase(deadlines.begin());
        dataEnd(due.id, due.stamp, due.data);
    }
}

size_t RuleDataMgt::activeCount(RuleDataType kind)
{
    Lock lock(mutex);
    return static_cast<size_t>(kind) < activeEvents.size() ? activeEvents[static_cast<size_t>(kind)].size() : 0;
}

size_t RuleDataMgt::deadlineCount()
{
    Lock lock(mutex);
    return deadlines.size();
}

} // namespace kxsnapper
