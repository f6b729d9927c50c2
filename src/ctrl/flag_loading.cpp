#include <kxdiag/ctrl.h>
#include <kxdiag/snapper.h>

#include "ctrl/env_snapshot.h"
#include "ctrl/flag_value.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kxctrl {
namespace {

Flag& flagOf(Flag::Name name)
{
    return Flag::flags_[name];
}

bool envIsOn(const char* name)
{
    const char* value = std::getenv(name);
    return value && std::strcmp(value, "ON") == 0;
}

bool lessIgnoringCase(const Flag* left, const Flag* right)
{
    for (const char *a = left->name, *b = right->name;; ++a, ++b) {
        int upperA = std::toupper(static_cast<unsigned char>(*a));
        int upperB = std::toupper(static_cast<unsigned char>(*b));
        if (upperA != upperB || upperA == 0) {
            return upperA < upperB;
        }
    }
}

void debugLine(const char* format, const char* a = nullptr, const char* b = nullptr, const char* c = nullptr)
{
    const auto& logger = kxsnapper::utils::g_snapperlog;
    if (logger && logger->shouldLog(kxlog::kxLevel_enum::DEBUG)) {
        kxlog::api::kxLog(logger, kxlog::kxLevel_enum::DEBUG, format, a, b, c);
    }
}

// One line per flag that was set and now differs from the value it had
// before loading, sorted by name regardless of case.
void writeChangeReport()
{
    std::vector<Flag*> sorted;
    sorted.reserve(Flag::kFlagCount);
    for (int i = 0; i < Flag::kFlagCount; ++i) {
        sorted.push_back(&Flag::flags_[i]);
    }
    std::sort(sorted.begin(), sorted.end(), lessIgnoringCase);

    static const char* const rule = "|--------------------------------|-----------------|-----------------|\n";
    debugLine("| %-30s | %-15s | %-15s |\n", "KORA Environment Variable", "Actual Value", "Default Value");
    debugLine(rule);
    for (Flag* flag : sorted) {
        if (!flag->isDefault) {
            flag->logValueChange();
        }
    }
    debugLine(rule);
    // The copies of the flags left at their defaults are not needed either.
    for (Flag* flag : sorted) {
        impl::releaseCopy(flag->savedDefault);
    }
}

} // namespace

int Flag::init()
{
    const impl::EnvSnapshot environment;
    for (int i = 0; i < kFlagCount; ++i) {
        Flag& flag = flags_[i];
        flag.setDefaultValue();
        if (const char* value = environment.find(flag.name)) {
            flag.setValue(value);
        }
    }
    setValueFromFile();
    envSwap();
    if (::KORA_RING_BUFFER_SIZE < 1024) {
        ::KORA_RING_BUFFER_SIZE = 1024;
    }
    const char* queueTimeoutCheck = environment.find("ENABLE_QUEUE_TIMEOUT_CHECK");
    if (queueTimeoutCheck && ::KORA_KERNEL_TIMEOUT == 0 && std::strcmp(queueTimeoutCheck, "ON") == 0) {
        ::KORA_KERNEL_TIMEOUT = 60000;
    }
    kxFeatureCtrl::updateFeatureMask();
    writeChangeReport();
    return 1;
}

void Flag::envSwap()
{
    bool directDispatch = ::KORA_DIRECT_DISPATCH;
    if (::KORA_MPS_MODE == 1) {
        ::KORA_DIRECT_DISPATCH = false;
        flagOf(KORA_DIRECT_DISPATCH).isDefault = true;
        directDispatch = false;
    }

    if (::KORA_LAUNCH_BLOCKING && std::strcmp(::KORA_LAUNCH_BLOCKING, "2") == 0) {
        ::INSERT_LAUNCH_DELAY = true;
    }
    if (::KORA_LAUNCH_BLOCKING && std::strcmp(::KORA_LAUNCH_BLOCKING, "3") == 0) {
        ::FORCE_API_SERIAL_EXEC = true;
    }
    if (::KORA_MODULE_LOADING && std::strcmp(::KORA_MODULE_LOADING, "EAGER") == 0) {
        ::MODULE_LOADING_EAGER = true;
    }
    if (!flagOf(KORA_H2D2H_COPY_MODE).isDefault) {
        ::RECT_COPY_BY_KERNEL = (::KORA_H2D2H_COPY_MODE & 1) != 0;
    }

    Flag& activeWait = flagOf(FORCE_ACTIVE_WAIT);
    if (activeWait.isDefault && ::FORCE_ACTIVE_WAIT != ::KORA_CPU_THREAD_POLICY) {
        ::FORCE_ACTIVE_WAIT = ::KORA_CPU_THREAD_POLICY;
        activeWait.isDefault = false;
    }

    if (directDispatch) {
        Flag& syncPolicy = flagOf(KORA_SYNC_POLICY);
        if (syncPolicy.isDefault) {
            ::KORA_SYNC_POLICY = 3;
            syncPolicy.isDefault = false;
        }
        Flag& allocationPolicy = flagOf(SOMA_ALLOCATION_POLICY);
        if (allocationPolicy.isDefault) {
            ::SOMA_ALLOCATION_POLICY = 2;
            allocationPolicy.isDefault = false;
        }
    }

    Flag& signalWait = flagOf(GPU_SIGNAL_WAIT);
    Flag& eventWait = flagOf(GPU_EVENT_WAIT);
    if (signalWait.isDefault && eventWait.isDefault && ::KORA_SYNC_POLICY <= 3) {
        bool signal = (::KORA_SYNC_POLICY & 1) != 0;
        bool event = (::KORA_SYNC_POLICY & 2) != 0;
        if (::GPU_SIGNAL_WAIT != signal || ::GPU_EVENT_WAIT != event) {
            ::GPU_SIGNAL_WAIT = signal;
            ::GPU_EVENT_WAIT = event;
            signalWait.isDefault = false;
            eventWait.isDefault = false;
        }
    }

    bool* const memstack[] = { &::HOTSPOT_MEMSTACK_LEVEL0, &::HOTSPOT_MEMSTACK_LEVEL1, &::HOTSPOT_MEMSTACK_LEVEL2 };
    const Name memstackNames[] = { HOTSPOT_MEMSTACK_LEVEL0, HOTSPOT_MEMSTACK_LEVEL1, HOTSPOT_MEMSTACK_LEVEL2 };
    bool memstackDefault = std::all_of(std::begin(memstackNames), std::end(memstackNames),
        [](Name name) { return flagOf(name).isDefault; });
    if (memstackDefault && (::KORA_HOTSPOT_MEMSTACK & 7) != 0) {
        for (int bit = 0; bit < 3; ++bit) {
            *memstack[bit] = ((::KORA_HOTSPOT_MEMSTACK >> bit) & 1) != 0;
            flagOf(memstackNames[bit]).isDefault = false;
        }
    }

    Flag& umdTrace = flagOf(KORA_UMD_TRACE);
    Flag& profileMask = flagOf(FEATURE_MASK_PROFILE);
    if (umdTrace.isDefault) {
        ::KORA_UMD_TRACE = ::FEATURE_MASK_PROFILE;
        umdTrace.isDefault = profileMask.isDefault;
    } else {
        ::FEATURE_MASK_PROFILE = ::KORA_UMD_TRACE;
        profileMask.isDefault = false;
    }

    Flag& cacheFlag = flagOf(KORA_DEVICE_MEM_CACHE_FLAG);
    if (cacheFlag.isDefault && !flagOf(DEVICE_MEM_CACHE_FLAG).isDefault) {
        ::KORA_DEVICE_MEM_CACHE_FLAG = ::DEVICE_MEM_CACHE_FLAG;
        cacheFlag.isDefault = false;
    }

    if (envIsOn("CYCLE_TRACE_ENABLED")) {
        ::CYCLE_TRACE_MODE = 1;
    } else if (envIsOn("DIDT_OPT_CYCLE_TRACE_ENABLED")) {
        ::CYCLE_TRACE_MODE = 3;
    }
}

bool Flag::setFlagValue(const char* name, const char* value, bool setEnv)
{
    // The environment cannot hold a null name or value, and neither can a flag.
    if (name == nullptr || value == nullptr) {
        return false;
    }
    bool result = false;
    if (setEnv && setenv(name, value, 1) == 0) {
        result = reloadEnv(name) != nullptr;
    } else {
        for (int i = 0; i < kFlagCount; ++i) {
            if (std::strcmp(flags_[i].name, name) == 0) {
                result = flags_[i].setValue(value);
                break;
            }
        }
    }
    if (std::strcmp(name, "KORA_MPS_MODE") == 0) {
        setFlagValue("KORA_DIRECT_DISPATCH", "0", setEnv);
    } else if (std::strcmp(name, "KORA_DIRECT_DISPATCH") == 0) {
        setFlagValue("SOMA_ALLOCATION_POLICY", "0", setEnv);
    }
    return result;
}

void* Flag::reloadEnv(const char* name)
{
    auto found = keyMap_.find(name);
    if (found == keyMap_.end()) {
        return nullptr;
    }
    Flag& flag = flags_[found->second];
    if (const char* value = std::getenv(name)) {
        flag.setValue(value);
    }
    return flag.addr;
}

void* Flag::reloadMaskEnv(const char* name)
{
    void* addr = reloadEnv(name);
    kxFeatureCtrl::updateFeatureMask();
    return addr;
}

} // namespace kxctrl
