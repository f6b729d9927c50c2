#include <kxdiag/ctrl.h>
#include <kxdiag/kxdiag.h>

#include "ctrl/env_file.h"
#include "qvs_capture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>

namespace {

using kxctrl::Flag;
using Env = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;

Flag& flag(Flag::Name name)
{
    return Flag::flags_[name];
}

bool isSet(Flag::Name name)
{
    return !flag(name).isDefault;
}

// Starts every case from an environment that names no flag and points the
// configuration lookup at an empty private directory.
class Loading : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (int i = 0; i < Flag::kFlagCount; ++i) {
            unsetenv(Flag::flags_[i].name);
        }
        for (const char* name : { "ENABLE_QUEUE_TIMEOUT_CHECK", "CYCLE_TRACE_ENABLED", "DIDT_OPT_CYCLE_TRACE_ENABLED",
                 "KORA_PATH" }) {
            unsetenv(name);
        }
        setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
    }

    static void put(const Env& env)
    {
        for (const auto& entry : env) {
            setenv(entry.first.c_str(), entry.second.c_str(), 1);
        }
    }

    void writeEnvIni(const std::string& content) { kxtest::writeFile(etc.file("env.ini"), content); }

    kxtest::TempDir etc;
    kxtest::QvsCapture capture{ spdlog::level::debug, "%L %v" };
};

// One row of the report as the report formats it.
std::string row(char level, const std::string& name, const std::string& actual, const std::string& original)
{
    char text[256];
    std::snprintf(text, sizeof(text), "%c | %-30s | %-15s | %-15s |", level, name.c_str(), actual.c_str(),
        original.c_str());
    return text;
}

const std::string kHeader = "D | KORA Environment Variable      | Actual Value    | Default Value   |";
const std::string kRule = "D |--------------------------------|-----------------|-----------------|";

// ---- derivation rules and relays, one environment per case ----

struct Derivation {
    const char* title;
    Env env;
    std::function<void()> check;
};

class Derivations : public Loading, public ::testing::WithParamInterface<Derivation> {};

TEST_P(Derivations, AfterInit)
{
    put(GetParam().env);
    EXPECT_EQ(kxctrlInit(), 1);
    GetParam().check();
}

const Derivation kDerivations[] = {
    { "MpsModeTurnsDirectDispatchOff", { { "KORA_MPS_MODE", "1" }, { "KORA_DIRECT_DISPATCH", "1" } },
        [] {
            EXPECT_FALSE(::KORA_DIRECT_DISPATCH);
            EXPECT_FALSE(isSet(Flag::KORA_DIRECT_DISPATCH));
            EXPECT_EQ(::KORA_SYNC_POLICY, 0u);
            EXPECT_EQ(::SOMA_ALLOCATION_POLICY, 1);
            EXPECT_FALSE(::GPU_SIGNAL_WAIT);
        } },
    { "DirectDispatchFillsSyncAndAllocationPolicies", { { "KORA_DIRECT_DISPATCH", "1" } },
        [] {
            EXPECT_TRUE(::KORA_DIRECT_DISPATCH);
            EXPECT_EQ(::KORA_SYNC_POLICY, 3u);
            EXPECT_EQ(::SOMA_ALLOCATION_POLICY, 2);
            EXPECT_TRUE(::GPU_SIGNAL_WAIT);
            EXPECT_TRUE(::GPU_EVENT_WAIT);
            EXPECT_TRUE(isSet(Flag::KORA_SYNC_POLICY) && isSet(Flag::SOMA_ALLOCATION_POLICY));
        } },
    { "DirectDispatchKeepsPoliciesThatWereSet",
        { { "KORA_DIRECT_DISPATCH", "1" }, { "KORA_SYNC_POLICY", "1" }, { "SOMA_ALLOCATION_POLICY", "4" } },
        [] {
            EXPECT_EQ(::KORA_SYNC_POLICY, 1u);
            EXPECT_EQ(::SOMA_ALLOCATION_POLICY, 4);
            EXPECT_TRUE(::GPU_SIGNAL_WAIT);
            EXPECT_FALSE(::GPU_EVENT_WAIT);
        } },
    { "SyncPolicyAboveThreeLeavesTheWaitFlags", { { "KORA_SYNC_POLICY", "5" } },
        [] {
            EXPECT_FALSE(::GPU_SIGNAL_WAIT);
            EXPECT_FALSE(::GPU_EVENT_WAIT);
            EXPECT_FALSE(isSet(Flag::GPU_SIGNAL_WAIT) || isSet(Flag::GPU_EVENT_WAIT));
        } },
    { "SyncPolicyBitOneIsEventWait", { { "KORA_SYNC_POLICY", "2" } },
        [] {
            EXPECT_FALSE(::GPU_SIGNAL_WAIT);
            EXPECT_TRUE(::GPU_EVENT_WAIT);
            EXPECT_TRUE(isSet(Flag::GPU_SIGNAL_WAIT) && isSet(Flag::GPU_EVENT_WAIT));
        } },
    { "SyncPolicyLeavesWaitFlagsWhenOneWasSet", { { "KORA_SYNC_POLICY", "3" }, { "GPU_EVENT_WAIT", "0" } },
        [] {
            EXPECT_FALSE(::GPU_SIGNAL_WAIT);
            EXPECT_FALSE(::GPU_EVENT_WAIT);
        } },
    { "LaunchBlockingTwoInsertsDelay", { { "KORA_LAUNCH_BLOCKING", "2" } },
        [] {
            EXPECT_TRUE(::INSERT_LAUNCH_DELAY);
            EXPECT_FALSE(isSet(Flag::INSERT_LAUNCH_DELAY));
            EXPECT_FALSE(::FORCE_API_SERIAL_EXEC);
        } },
    { "LaunchBlockingQuotedThreeSerialises", { { "KORA_LAUNCH_BLOCKING", "\"3\"" } },
        [] {
            EXPECT_TRUE(::FORCE_API_SERIAL_EXEC);
            EXPECT_FALSE(::INSERT_LAUNCH_DELAY);
        } },
    { "EagerModuleLoading", { { "KORA_MODULE_LOADING", "EAGER" } },
        [] {
            EXPECT_TRUE(::MODULE_LOADING_EAGER);
            EXPECT_FALSE(isSet(Flag::MODULE_LOADING_EAGER));
        } },
    { "ModuleLoadingMatchesExactly", { { "KORA_MODULE_LOADING", "eager" } },
        [] { EXPECT_FALSE(::MODULE_LOADING_EAGER); } },
    { "CopyModeBitZeroSelectsKernelCopy", { { "KORA_H2D2H_COPY_MODE", "3" } },
        [] {
            EXPECT_TRUE(::RECT_COPY_BY_KERNEL);
            EXPECT_FALSE(isSet(Flag::RECT_COPY_BY_KERNEL));
        } },
    { "CopyModeWithoutBitZero", { { "KORA_H2D2H_COPY_MODE", "2" }, { "RECT_COPY_BY_KERNEL", "1" } },
        [] { EXPECT_FALSE(::RECT_COPY_BY_KERNEL); } },
    { "CpuThreadPolicyGoesToActiveWait", { { "KORA_CPU_THREAD_POLICY", "2" } },
        [] {
            EXPECT_EQ(::FORCE_ACTIVE_WAIT, 2);
            EXPECT_TRUE(isSet(Flag::FORCE_ACTIVE_WAIT));
        } },
    { "ActiveWaitThatWasSetWins", { { "KORA_CPU_THREAD_POLICY", "2" }, { "FORCE_ACTIVE_WAIT", "5" } },
        [] { EXPECT_EQ(::FORCE_ACTIVE_WAIT, 5); } },
    { "MemstackBitsGoToTheLevels", { { "KORA_HOTSPOT_MEMSTACK", "5" } },
        [] {
            EXPECT_TRUE(::HOTSPOT_MEMSTACK_LEVEL0);
            EXPECT_FALSE(::HOTSPOT_MEMSTACK_LEVEL1);
            EXPECT_TRUE(::HOTSPOT_MEMSTACK_LEVEL2);
            EXPECT_TRUE(isSet(Flag::HOTSPOT_MEMSTACK_LEVEL1));
        } },
    { "MemstackWithoutLowBits", { { "KORA_HOTSPOT_MEMSTACK", "8" } },
        [] { EXPECT_FALSE(isSet(Flag::HOTSPOT_MEMSTACK_LEVEL0)); } },
    { "MemstackLevelsLeftWhenOneWasSet", { { "KORA_HOTSPOT_MEMSTACK", "7" }, { "HOTSPOT_MEMSTACK_LEVEL2", "0" } },
        [] {
            EXPECT_FALSE(::HOTSPOT_MEMSTACK_LEVEL0);
            EXPECT_FALSE(::HOTSPOT_MEMSTACK_LEVEL2);
        } },
    { "UmdTraceWinsOverProfileMask", { { "KORA_UMD_TRACE", "0x3" }, { "FEATURE_MASK_PROFILE", "0xF0" } },
        [] {
            EXPECT_EQ(::FEATURE_MASK_PROFILE, 3u);
            EXPECT_EQ(::KORA_UMD_TRACE, 3u);
            EXPECT_TRUE(::HOTSPOT_API_LEVEL0 && ::HOTSPOT_API_LEVEL1);
            EXPECT_FALSE(::HOTSPOT_API_LEVEL2 || ::HOTSPOT_HOSTQUEUE_LEVEL0 || ::HOTSPOT_REAL_TIME_DUMP);
            EXPECT_TRUE(isSet(Flag::HOTSPOT_REAL_TIME_DUMP));
        } },
    { "ProfileTargetNamedInTheEnvironmentKeepsItsValue",
        { { "KORA_UMD_TRACE", "0x3" }, { "HOTSPOT_API_LEVEL1", "0" }, { "HOTSPOT_MEMORY_LEVEL3", "1" } },
        [] {
            EXPECT_TRUE(::HOTSPOT_API_LEVEL0);
            EXPECT_FALSE(::HOTSPOT_API_LEVEL1);
            EXPECT_TRUE(::HOTSPOT_MEMORY_LEVEL3);
        } },
    { "ProfileMaskIsCopiedToUmdTrace", { { "FEATURE_MASK_PROFILE", "0x8000000000000001" } },
        [] {
            EXPECT_EQ(::KORA_UMD_TRACE, 0x8000000000000001u);
            EXPECT_TRUE(isSet(Flag::KORA_UMD_TRACE));
            EXPECT_TRUE(::HOTSPOT_API_LEVEL0 && ::HOTSPOT_REAL_TIME_DUMP);
            EXPECT_FALSE(::HOTSPOT_REAL_TIME_DUMP_WHEN_FULL);
        } },
    { "UnsetMasksRelayNothing", {},
        [] {
            EXPECT_FALSE(isSet(Flag::KORA_UMD_TRACE));
            for (int i = Flag::HOTSPOT_API_LEVEL0; i <= Flag::HOTSPOT_REAL_TIME_DUMP; ++i) {
                EXPECT_FALSE(*static_cast<bool*>(Flag::flags_[i].addr)) << Flag::flags_[i].name;
                EXPECT_TRUE(Flag::flags_[i].isDefault) << Flag::flags_[i].name;
            }
            EXPECT_TRUE(::MEMSET_IN_MALLOC);
            EXPECT_FALSE(::USE_NULL_HARDWARE);
        } },
    { "CustomizeAndTestMasksRelayTheirBits", { { "FEATURE_MASK_CUSTOMIZE", "0x14" }, { "FEATURE_MASK_TEST", "0xC" } },
        [] {
            EXPECT_FALSE(::MEMSET_IN_MALLOC);
            EXPECT_TRUE(::RECT_COPY_BY_KERNEL);
            EXPECT_FALSE(::KXTX_TARGET_INIT);
            EXPECT_TRUE(::FORCE_COMP_PERF_ENABLE);
            EXPECT_FALSE(::EXTEND_SDMA_CHANNEL);
            EXPECT_TRUE(::USE_NULL_HARDWARE && ::USE_NULL_COMPUTE);
            EXPECT_FALSE(::HOTSPOT_API_LEVEL0);
        } },
    // The copy-mode bit leaves the target at its default, so a given mask overrides it.
    { "CustomizeMaskOverridesTheCopyModeBit",
        { { "KORA_H2D2H_COPY_MODE", "1" }, { "FEATURE_MASK_CUSTOMIZE", "0" } },
        [] {
            EXPECT_FALSE(::RECT_COPY_BY_KERNEL);
            EXPECT_TRUE(isSet(Flag::RECT_COPY_BY_KERNEL));
        } },
    { "OlderCacheFlagName", { { "DEVICE_MEM_CACHE_FLAG", "8" } },
        [] {
            EXPECT_EQ(::KORA_DEVICE_MEM_CACHE_FLAG, 8);
            EXPECT_TRUE(isSet(Flag::KORA_DEVICE_MEM_CACHE_FLAG));
        } },
    { "NewerCacheFlagNameWins", { { "DEVICE_MEM_CACHE_FLAG", "8" }, { "KORA_DEVICE_MEM_CACHE_FLAG", "2" } },
        [] { EXPECT_EQ(::KORA_DEVICE_MEM_CACHE_FLAG, 2); } },
    { "CycleTrace", { { "CYCLE_TRACE_ENABLED", "ON" }, { "DIDT_OPT_CYCLE_TRACE_ENABLED", "ON" } },
        [] {
            EXPECT_EQ(::CYCLE_TRACE_MODE, 1);
            EXPECT_FALSE(isSet(Flag::CYCLE_TRACE_MODE));
        } },
    { "DidtCycleTrace", { { "CYCLE_TRACE_ENABLED", "on" }, { "DIDT_OPT_CYCLE_TRACE_ENABLED", "ON" } },
        [] { EXPECT_EQ(::CYCLE_TRACE_MODE, 3); } },
    { "SmallRingBufferIsRaised", { { "KORA_RING_BUFFER_SIZE", "100" } },
        [] { EXPECT_EQ(::KORA_RING_BUFFER_SIZE, 1024); } },
    { "NegativeRingBufferIsRaised", { { "KORA_RING_BUFFER_SIZE", "-5" } },
        [] { EXPECT_EQ(::KORA_RING_BUFFER_SIZE, 1024); } },
    { "LargeRingBufferIsKept", { { "KORA_RING_BUFFER_SIZE", "4096" } },
        [] { EXPECT_EQ(::KORA_RING_BUFFER_SIZE, 4096); } },
    { "QueueTimeoutCheck", { { "ENABLE_QUEUE_TIMEOUT_CHECK", "ON" } },
        [] {
            EXPECT_EQ(::KORA_KERNEL_TIMEOUT, 60000);
            EXPECT_FALSE(isSet(Flag::KORA_KERNEL_TIMEOUT));
        } },
    { "QueueTimeoutCheckKeepsAGivenTimeout", { { "ENABLE_QUEUE_TIMEOUT_CHECK", "ON" }, { "KORA_KERNEL_TIMEOUT", "5" } },
        [] { EXPECT_EQ(::KORA_KERNEL_TIMEOUT, 5); } },
    { "QueueTimeoutCheckNeedsExactlyOn", { { "ENABLE_QUEUE_TIMEOUT_CHECK", "on" } },
        [] { EXPECT_EQ(::KORA_KERNEL_TIMEOUT, 0); } },
    { "EmptyValueSetsAnIntFlagToZero", { { "KORA_TRAP_HANDLER", "" } },
        [] {
            EXPECT_EQ(::KORA_TRAP_HANDLER, 0);
            EXPECT_TRUE(isSet(Flag::KORA_TRAP_HANDLER));
        } },
    { "EnvironmentNamesAreCaseSensitive", { { "kora_trap_handler", "0" } },
        [] { EXPECT_EQ(::KORA_TRAP_HANDLER, 1); } },
};

INSTANTIATE_TEST_SUITE_P(Rules, Derivations, ::testing::ValuesIn(kDerivations),
    [](const ::testing::TestParamInfo<Derivation>& info) { return std::string(info.param.title); });

// ---- the change report ----

TEST_F(Loading, ReportListsSetFlagsThatChangedSortedByName)
{
    put({ { "KORA_DIRECT_DISPATCH", "1" }, { "KORA_TRAP_HANDLER", "1" }, { "KORA_LAUNCH_BLOCKING", "2" } });
    kxctrlInit();
    EXPECT_EQ(capture.lines(),
        (Lines { kHeader, kRule, row('W', "GPU_EVENT_WAIT", "1", "0"), row('W', "GPU_SIGNAL_WAIT", "1", "0"),
            row('I', "KORA_DIRECT_DISPATCH", "1", "0"), row('I', "KORA_LAUNCH_BLOCKING", "2", "0"),
            row('I', "KORA_SYNC_POLICY", "3", "0"), row('W', "SOMA_ALLOCATION_POLICY", "2", "1"), kRule }));
    for (int i = 0; i < Flag::kFlagCount; ++i) {
        EXPECT_EQ(Flag::flags_[i].savedDefault, nullptr) << Flag::flags_[i].name;
    }
}

TEST_F(Loading, ReportOrderIgnoresCaseAsUpperCase)
{
    // In upper case 'O' sorts before '_'; in lower case it would be the other way round.
    put({ { "DEVICE_MEM_CACHE_FLAG", "8" }, { "DEVICE_MEMORY_POOL_BLOCK_SIZE", "5" } });
    kxctrlInit();
    EXPECT_EQ(capture.lines(),
        (Lines { kHeader, kRule, row('W', "DEVICE_MEMORY_POOL_BLOCK_SIZE", "5", "0"),
            row('W', "DEVICE_MEM_CACHE_FLAG", "8", "4"), row('I', "KORA_DEVICE_MEM_CACHE_FLAG", "8", "4"), kRule }));
}

TEST_F(Loading, MpsModeReportsWithoutDirectDispatch)
{
    put({ { "KORA_MPS_MODE", "1" }, { "KORA_DIRECT_DISPATCH", "1" } });
    kxctrlInit();
    EXPECT_EQ(capture.lines(), (Lines { kHeader, kRule, row('I', "KORA_MPS_MODE", "1", "0"), kRule }));
}

TEST_F(Loading, ReportIsSilentBelowTheLoggersLevel)
{
    kxtest::QvsCapture quiet(spdlog::level::warn, "%L %v");
    put({ { "KORA_DIRECT_DISPATCH", "1" } });
    kxctrlInit();
    EXPECT_EQ(quiet.lines(), (Lines { row('W', "GPU_EVENT_WAIT", "1", "0"), row('W', "GPU_SIGNAL_WAIT", "1", "0"),
                                 row('W', "SOMA_ALLOCATION_POLICY", "2", "1") }));
}

// ---- env.ini ----

TEST_F(Loading, EnvIniSetsItsTwoFlagsBelowTheEnvironment)
{
    writeEnvIni("[ExecutionControl]\nKORA_MPS_MODE=1\nKORA_TRAP_HANDLER=0x2\nKORA_LAUNCH_MODE=7\n");
    put({ { "KORA_MPS_MODE", "2" } });
    kxctrlInit();
    EXPECT_EQ(::KORA_MPS_MODE, 2);
    EXPECT_EQ(::KORA_TRAP_HANDLER, 2);
    EXPECT_TRUE(isSet(Flag::KORA_TRAP_HANDLER));
    EXPECT_EQ(::KORA_LAUNCH_MODE, 1);
    EXPECT_FALSE(isSet(Flag::KORA_LAUNCH_MODE));
}

TEST_F(Loading, EnvIniMpsModeTurnsDirectDispatchOff)
{
    writeEnvIni("  [ ExecutionControl ]  \n  KORA_MPS_MODE  =  1  \n");
    put({ { "KORA_DIRECT_DISPATCH", "1" } });
    kxctrlInit();
    EXPECT_EQ(::KORA_MPS_MODE, 1);
    EXPECT_FALSE(::KORA_DIRECT_DISPATCH);
    EXPECT_EQ(::KORA_SYNC_POLICY, 0u);
}

TEST_F(Loading, EnvIniSectionAndKeyMatchExactly)
{
    writeEnvIni("[executioncontrol]\nKORA_MPS_MODE=1\n[Other]\nKORA_TRAP_HANDLER=0\n"
                "[ExecutionControl]\nkora_mps_mode=1\nKORA_TRAP_HANDLERS=0\n");
    kxctrlInit();
    EXPECT_EQ(::KORA_MPS_MODE, 0);
    EXPECT_EQ(::KORA_TRAP_HANDLER, 1);
    EXPECT_FALSE(isSet(Flag::KORA_MPS_MODE) || isSet(Flag::KORA_TRAP_HANDLER));
}

TEST_F(Loading, EnvIniFallsBackToKoraPath)
{
    kxtest::TempDir root;
    ASSERT_EQ(mkdir(root.file("etc").c_str(), 0755), 0);
    kxtest::writeFile(root.file("etc/env.ini"), "[ExecutionControl]\nKORA_TRAP_HANDLER=3\n");
    setenv("KORA_PATH", root.path().c_str(), 1);
    kxctrlInit();
    EXPECT_EQ(::KORA_TRAP_HANDLER, 3);
}

TEST_F(Loading, ConfigFileLookup)
{
    EXPECT_EQ(kxctrl::getCfgFile("env.ini"), "");
    writeEnvIni("");
    EXPECT_EQ(kxctrl::getCfgFile("env.ini"), etc.file("env.ini"));
    setenv("KORA_PATH", "/nowhere", 1);
    EXPECT_EQ(kxctrl::getCfgFile("missing.ini"), "/nowhere/etc/missing.ini");
    unsetenv("KORA_ETC_PATH");
    EXPECT_EQ(kxctrl::getCfgFile("env.ini"), "/nowhere/etc/env.ini");
}

// ---- later changes ----

TEST_F(Loading, EnvironmentRespectingPassOverridesAllButEnvironmentNames)
{
    put({ { "KORA_UMD_TRACE", "0xF" }, { "HOTSPOT_DEVICE_LEVEL0", "1" } });
    kxctrlInit();
    ASSERT_TRUE(::HOTSPOT_API_LEVEL3 && ::HOTSPOT_DEVICE_LEVEL0);
    ASSERT_EQ(kxctrl::kxFeatureCtrl::updateCnt, 1);
    // Set by other means than the environment: the next pass overrides it.
    flag(Flag::HOTSPOT_SIGNAL_LEVEL0).setValue("1");

    setenv("FEATURE_MASK_PROFILE", "0x0", 1);
    EXPECT_EQ(Flag::reloadMaskEnv("FEATURE_MASK_PROFILE"), static_cast<void*>(&::FEATURE_MASK_PROFILE));
    EXPECT_EQ(::FEATURE_MASK_PROFILE, 0u);
    EXPECT_FALSE(::HOTSPOT_API_LEVEL0 || ::HOTSPOT_API_LEVEL3 || ::HOTSPOT_SIGNAL_LEVEL0);
    EXPECT_TRUE(::HOTSPOT_DEVICE_LEVEL0);
    EXPECT_EQ(::KORA_UMD_TRACE, 0xFu);
}

TEST_F(Loading, FirstRelayPassRespectsFlagsThatWereSet)
{
    ASSERT_EQ(kxctrl::kxFeatureCtrl::updateCnt, 0);
    flag(Flag::HOTSPOT_API_LEVEL1).setValue("0");
    setenv("FEATURE_MASK_PROFILE", "0x3", 1);
    Flag::reloadMaskEnv("FEATURE_MASK_PROFILE");
    EXPECT_EQ(kxctrl::kxFeatureCtrl::updateCnt, 1);
    EXPECT_TRUE(::HOTSPOT_API_LEVEL0);
    EXPECT_FALSE(::HOTSPOT_API_LEVEL1);
}

TEST_F(Loading, ReloadEnv)
{
    EXPECT_EQ(Flag::reloadEnv("NOT_A_FLAG"), nullptr);
    EXPECT_EQ(Flag::reloadEnv("TEST_STG"), nullptr);
    EXPECT_EQ(Flag::reloadEnv("KORA_LAUNCH_MODE"), static_cast<void*>(&::KORA_LAUNCH_MODE));
    EXPECT_FALSE(isSet(Flag::KORA_LAUNCH_MODE));
    setenv("KORA_LAUNCH_MODE", "4", 1);
    Flag::reloadEnv("KORA_LAUNCH_MODE");
    EXPECT_EQ(::KORA_LAUNCH_MODE, 4);
    unsetenv("KORA_LAUNCH_MODE");
    Flag::reloadEnv("KORA_LAUNCH_MODE");
    EXPECT_EQ(::KORA_LAUNCH_MODE, 4);
    EXPECT_EQ(Flag::reloadMaskEnv("NOT_A_FLAG"), nullptr);
}

TEST_F(Loading, SetFlagValueGoesThroughTheEnvironment)
{
    kxctrlInit();
    EXPECT_TRUE(kxctrlSetFlagValue("KORA_MODULE_LOADING", "\"EAGER\""));
    EXPECT_STREQ(::KORA_MODULE_LOADING, "EAGER");
    EXPECT_STREQ(std::getenv("KORA_MODULE_LOADING"), "\"EAGER\"");
    // Only the flag itself changes: no derivation rule runs.
    EXPECT_FALSE(::MODULE_LOADING_EAGER);
    EXPECT_TRUE(kxctrlSetFlagValue("KORA_SYNC_POLICY", "3"));
    EXPECT_EQ(::KORA_SYNC_POLICY, 3u);
    EXPECT_FALSE(::GPU_SIGNAL_WAIT);
}

TEST_F(Loading, SetFlagValueOfMpsModeAlsoClearsDispatchAndAllocation)
{
    put({ { "KORA_DIRECT_DISPATCH", "1" } });
    kxctrlInit();
    ASSERT_TRUE(::KORA_DIRECT_DISPATCH);
    ASSERT_EQ(::SOMA_ALLOCATION_POLICY, 2);
    EXPECT_TRUE(kxctrlSetFlagValue("KORA_MPS_MODE", "0"));
    EXPECT_EQ(::KORA_MPS_MODE, 0);
    EXPECT_FALSE(::KORA_DIRECT_DISPATCH);
    EXPECT_EQ(::SOMA_ALLOCATION_POLICY, 0);
    EXPECT_STREQ(std::getenv("KORA_DIRECT_DISPATCH"), "0");
    EXPECT_STREQ(std::getenv("SOMA_ALLOCATION_POLICY"), "0");
}

TEST_F(Loading, SetFlagValueOfDirectDispatchClearsAllocation)
{
    EXPECT_TRUE(kxctrlSetFlagValue("KORA_DIRECT_DISPATCH", "1"));
    EXPECT_TRUE(::KORA_DIRECT_DISPATCH);
    EXPECT_EQ(::SOMA_ALLOCATION_POLICY, 0);
    EXPECT_EQ(::KORA_SYNC_POLICY, 0u);
}

TEST_F(Loading, SetFlagValueRefusals)
{
    EXPECT_FALSE(kxctrlSetFlagValue("NOT_A_FLAG", "1"));
    EXPECT_STREQ(std::getenv("NOT_A_FLAG"), "1");
    EXPECT_FALSE(kxctrlSetFlagValue("TEST_STG", "x"));
    EXPECT_FALSE(kxctrlSetFlagValue("BAD=NAME", "1"));

    EXPECT_FALSE(kxctrlSetFlagValue(nullptr, "1"));
    EXPECT_FALSE(kxctrlSetFlagValue("KORA_MPS_MODE", nullptr));
    EXPECT_EQ(std::getenv("KORA_MPS_MODE"), nullptr);
    EXPECT_EQ(std::getenv("KORA_DIRECT_DISPATCH"), nullptr);
    EXPECT_EQ(::KORA_MPS_MODE, 0);
    EXPECT_FALSE(isSet(Flag::KORA_MPS_MODE));
}

TEST_F(Loading, SetFlagValueWithoutEnvironment)
{
    EXPECT_TRUE(Flag::setFlagValue("KORA_MPS_MODE", "3", false));
    EXPECT_EQ(::KORA_MPS_MODE, 3);
    EXPECT_EQ(std::getenv("KORA_MPS_MODE"), nullptr);
    EXPECT_EQ(::SOMA_ALLOCATION_POLICY, 0);
    EXPECT_EQ(std::getenv("SOMA_ALLOCATION_POLICY"), nullptr);
    EXPECT_FALSE(Flag::setFlagValue("NOT_A_FLAG", "1", false));
    // A flag without variable takes nothing, so it does not report success.
    EXPECT_FALSE(Flag::setFlagValue("DEBUG_TEST_FLAG", "1", false));
}

} // namespace
