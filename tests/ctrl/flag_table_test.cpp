#include <kxdiag/ctrl.h>
#include <kxdiag/kxdiag.h>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <elf.h>
#include <link.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

using kxctrl::Flag;

// The flag table as published to the platform: name, type and default in
// Name order; nullptr marks the flags without a variable.
struct Expected {
    const char* name;
    Flag::Type type;
    const char* value;
};

const Expected kTable[] = {
    { "KORA_MPS_MODE", Flag::TYPE_INT, "0" },
    { "KORA_DIRECT_DISPATCH", Flag::TYPE_BOOL, "false" },
    { "KORA_TRAP_HANDLER", Flag::TYPE_INT, "1" },
    { "KORA_LAUNCH_MODE", Flag::TYPE_INT, "1" },
    { "KORA_MODULE_LOADING", Flag::TYPE_STRING, "\"LAZY\"" },
    { "KORA_LAUNCH_BLOCKING", Flag::TYPE_STRING, "\"0\"" },
    { "KORA_GRAPH_LAUNCH_MODE", Flag::TYPE_INT, "1" },
    { "KORA_GRAPH_TRACE_MODE", Flag::TYPE_INT, "1" },
    { "KORA_GRAPH_MEMCPY_MODE", Flag::TYPE_INT, "1" },
    { "KORA_BACK_TRACE", Flag::TYPE_BOOL, "false" },
    { "KORA_CONTEXT_COMPATIBILITY", Flag::TYPE_BOOL, "false" },
    { "KORA_PRIORITY_QUEUE_POLICY", Flag::TYPE_UINT64, "0" },
    { "KORA_CPU_THREAD_POLICY", Flag::TYPE_INT, "0" },
    { "KORA_SYNC_POLICY", Flag::TYPE_UINT64, "0" },
    { "KORA_HOTSPOT_MEMSTACK", Flag::TYPE_UINT64, "0" },
    { "KORA_MALLOC_POLICY", Flag::TYPE_UINT64, "0" },
    { "KORA_DMA_SCHEDULE_POLICY", Flag::TYPE_UINT64, "0" },
    { "KORA_STREAM_CREATE_TIMEOUT", Flag::TYPE_UINT64, "0" },
    { "KORA_TRACING_MODE", Flag::TYPE_INT, "0" },
    { "KORA_QUEUE_SCHEDULE_POLICY", Flag::TYPE_INT, "1" },
    { "KORA_MEMCPY_MODE", Flag::TYPE_INT, "0" },
    { "KORA_RING_BUFFER_SIZE", Flag::TYPE_INT, "1024" },
    { "KORA_KERNEL_TIMEOUT", Flag::TYPE_INT, "0" },
    { "KORA_MONITOR_HANG_TIMEOUT", Flag::TYPE_INT, "0" },
    { "KORA_USE_PCIE_ATOMIC", Flag::TYPE_BOOL, "false" },
    { "KORA_HOST_MEMORY_POLICY", Flag::TYPE_INT, "0" },
    { "KORA_KERNEL_ARGS_POLICY", Flag::TYPE_INT, "257" },
    { "KORA_SIGNAL_ALLOCATION_MODE", Flag::TYPE_BOOL, "false" },
    { "HBM_ACCESS_MODE", Flag::TYPE_INT, "0" },
    { "MULTI_HOPS_ACCESS_MODE", Flag::TYPE_INT, "1" },
    { "MODULE_LOADING_EAGER", Flag::TYPE_BOOL, "false" },
    { "RECT_COPY_BY_KERNEL", Flag::TYPE_BOOL, "false" },
    { "KORA_H2D2H_COPY_MODE", Flag::TYPE_INT, "0" },
    { "KORA_NUMA_MEMORY_POLICY", Flag::TYPE_INT, "0" },
    { "WAVES_PER_DPC", Flag::TYPE_INT, "0" },
    { "WGS_PER_AP", Flag::TYPE_INT, "0" },
    { "APS_PER_DPC", Flag::TYPE_INT, "0" },
    { "MALLOC_THRESHOLD", Flag::TYPE_INT, "99" },
    { "MEMSET_IN_MALLOC", Flag::TYPE_BOOL, "true" },
    { "KXTX_TARGET_INIT", Flag::TYPE_BOOL, "false" },
    { "KORA_KXTX_PROTO_VERSION", Flag::TYPE_INT, "0" },
    { "INSERT_LAUNCH_DELAY", Flag::TYPE_BOOL, "false" },
    { "FORCE_API_SERIAL_EXEC", Flag::TYPE_BOOL, "false" },
    { "GPU_SIGNAL_WAIT", Flag::TYPE_BOOL, "false" },
    { "GPU_EVENT_WAIT", Flag::TYPE_BOOL, "false" },
    { "FORCE_ACTIVE_WAIT", Flag::TYPE_INT, "0" },
    { "FEATURE_MASK_TEST", Flag::TYPE_UINT64, "0xFFFFFFFFFFFFFFFF" },
    { "USE_NULL_HARDWARE", Flag::TYPE_BOOL, "false" },
    { "USE_NULL_COMPUTE", Flag::TYPE_BOOL, "false" },
    { "FORCE_COMP_PERF_ENABLE", Flag::TYPE_BOOL, "false" },
    { "PRIVATE_MEMORY_INIT_METHOD", Flag::TYPE_INT, "0" },
    { "DEVICE_MEMORY_POOL_BLOCK_SIZE", Flag::TYPE_SIZE, "0" },
    { "COMMAND_MEM_LEAK_TEMP_FIX", Flag::TYPE_BOOL, "false" },
    { "DEBUG_TRACE_WAVE", Flag::TYPE_INT, "-1" },
    { "SET_DEVICE_NUMA_PREFERRED", Flag::TYPE_INT, "0" },
    { "EXTEND_SDMA_CHANNEL", Flag::TYPE_BOOL, "false" },
    { "MCM_SDMA_POLICY", Flag::TYPE_INT, "1" },
    { "STREAM_THREAD_AFFINITY", Flag::TYPE_BOOL, "true" },
    { "LEGACY_IMPLICIT_SYNC", Flag::TYPE_BOOL, "false" },
    { "CYCLE_TRACE_MODE", Flag::TYPE_INT, "0" },
    { "ENABLE_CE_DMA_BLIT", Flag::TYPE_BOOL, "true" },
    { "DEVICE_MEM_HOST_ACCESS", Flag::TYPE_BOOL, "false" },
    { "PIN_MEMORY_POOL_SIZE", Flag::TYPE_INT, "0" },
    { "KORA_D2D_COPY_MODE", Flag::TYPE_INT, "0" },
    { "KERNEL_BLIT_FILL_SELECT", Flag::TYPE_INT, "1" },
    { "KORA_GRAPH_HOST_NODE_MODE", Flag::TYPE_INT, "1" },
    { "DEVICE_MALLOC_HEAP_SIZE", Flag::TYPE_INT, "8" },
    { "GTT_CPU_CACHE_ENABLED", Flag::TYPE_BOOL, "true" },
    { "SAVE_GRAPH_DOT_FILE", Flag::TYPE_BOOL, "false" },
    { "SOMA_ALLOCATION_POLICY", Flag::TYPE_INT, "1" },
    { "FEATURE_MASK_CUSTOMIZE", Flag::TYPE_UINT64, "0xFFFFFFFFFFFFFFFF" },
    { "HOTSPOT_BUFFER_SIZE", Flag::TYPE_SIZE, "262144" },
    { "HOTSPOT_MEM_STACK_LAYER", Flag::TYPE_INT, "30" },
    { "KORA_MAX_EVENTS_PER_STREAM", Flag::TYPE_INT, "512" },
    { "FEATURE_MASK_PROFILE", Flag::TYPE_UINT64, "0xFFFFFFFFFFFFFFFF" },
    { "KORA_UMD_TRACE", Flag::TYPE_UINT64, "0xFFFFFFFFFFFFFFFF" },
    { "TRACER_RECORD_NUM", Flag::TYPE_UINT64, "0" },
    { "KORA_DEVICE_IMAGE_MALLOC_MODE", Flag::TYPE_INT, "0" },
    { "KORA_GRAPH_LAUNCH_QUEUE_POLICY", Flag::TYPE_INT, "0" },
    { "KORA_KXCL_QUEUE_NUM", Flag::TYPE_UINT64, "0" },
    { "KORA_SIGNAL_WAIT_MODE", Flag::TYPE_INT, "1" },
    { "WWW_JJJ_MMM", Flag::TYPE_INT, "3" },
    { "KORA_REGISTER_ACCESS_MODE", Flag::TYPE_INT, "0" },
    { "SNAPPER_FILE_FLUSH_MODE", Flag::TYPE_INT, "0" },
    { "KORA_DEVICE_MEM_CACHE_FLAG", Flag::TYPE_INT, "4" },
    { "DEVICE_MEM_CACHE_FLAG", Flag::TYPE_INT, "4" },
    { "KORA_QUEUE_SCHEDULE_GRAIN", Flag::TYPE_INT, "4" },
    { "KORA_QUEUE_SCHEDULE_RATIO", Flag::TYPE_INT, "1057" },
    { "KORA_HAG_FLUSH_POLICY", Flag::TYPE_INT, "0" },
    { "KORA_MEMORY_MAP_POLICY", Flag::TYPE_INT, "0" },
    { "KORA_DP_DOORBELL_MODE", Flag::TYPE_INT, "0" },
    { "KORA_MALLOC_MANAGED_POLICY", Flag::TYPE_INT, "0" },
    { "KORA_WORKGROUP_UNORDER_DISPATCH", Flag::TYPE_INT, "0" },
    { "HOTSPOT_API_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_API_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_API_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_API_LEVEL3", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_HOSTQUEUE_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_HOSTQUEUE_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_HOSTQUEUE_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_HOSTQUEUE_LEVEL3", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_COMMAND_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_COMMAND_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_COMMAND_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_COMMAND_LEVEL3", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_DEVICE_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_DEVICE_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_DEVICE_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_DEVICE_LEVEL3", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_SIGNAL_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_SIGNAL_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_SIGNAL_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_SIGNAL_LEVEL3", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_BASIC_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_BASIC_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_BASIC_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_BASIC_LEVEL3", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_QVKW_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_QVKW_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_QVKW_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_QVKW_LEVEL3", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_MEMORY_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_MEMORY_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_MEMORY_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_MEMORY_LEVEL3", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_CUSTOMIZE_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_CUSTOMIZE_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_CUSTOMIZE_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_CUSTOMIZE_LEVEL3", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_MEMSTACK_LEVEL0", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_MEMSTACK_LEVEL1", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_MEMSTACK_LEVEL2", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_FOLLOW_PTI_ACTIVITY", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_REAL_TIME_DUMP_WHEN_FULL", Flag::TYPE_BOOL, "false" },
    { "HOTSPOT_REAL_TIME_DUMP", Flag::TYPE_BOOL, "false" },
    { "FEATURE_MASK_DEBUG", Flag::TYPE_UINT64, nullptr },
    { "DEBUG_TEST_FLAG", Flag::TYPE_BOOL, nullptr },
    { "DEBUG_TEST_FLAG_UINT64", Flag::TYPE_UINT64, nullptr },
    { "TEST_STG", Flag::TYPE_STRING, nullptr },
    { "KORA_DEVICE_IMAGE_CHECK", Flag::TYPE_INT, "0" },
    { "SANITIZER_TOOL_TRAP_MODE", Flag::TYPE_INT, "0" },
    { "KORA_STREAM_TRACE_MODE", Flag::TYPE_INT, "0" },
    { "KORA_RINGBUFFER_TRACE_MODE", Flag::TYPE_INT, "0" },
    { "KORA_GRAPH_OPTIMIZE_POLICY", Flag::TYPE_INT, "0" },
    { "KORA_GRAPH_LOAD_SPEED_UP", Flag::TYPE_INT, "0" },
};

std::size_t widthOf(Flag::Type type)
{
    switch (type) {
    case Flag::TYPE_BOOL:
        return 1;
    case Flag::TYPE_INT:
    case Flag::TYPE_UINT:
        return 4;
    default:
        return 8;
    }
}

// The variable's value written the way the table writes defaults.
std::string show(Flag::Type type, const void* addr)
{
    char text[64];
    switch (type) {
    case Flag::TYPE_BOOL:
        return *static_cast<const bool*>(addr) ? "true" : "false";
    case Flag::TYPE_INT:
        std::snprintf(text, sizeof(text), "%" PRId32, *static_cast<const int32_t*>(addr));
        return text;
    case Flag::TYPE_SIZE:
        std::snprintf(text, sizeof(text), "%zu", *static_cast<const size_t*>(addr));
        return text;
    case Flag::TYPE_UINT64: {
        uint64_t value = *static_cast<const uint64_t*>(addr);
        if (value == UINT64_MAX) {
            return "0xFFFFFFFFFFFFFFFF";
        }
        std::snprintf(text, sizeof(text), "%" PRIu64, value);
        return text;
    }
    case Flag::TYPE_STRING:
        return std::string("\"") + *static_cast<const char* const*>(addr) + "\"";
    default:
        return "?";
    }
}

TEST(FlagTable, EveryVariableIsExportedUnderItsPlainNameWithItsDefault)
{
    void* self = dlopen(nullptr, RTLD_NOW);
    ASSERT_NE(self, nullptr);
    int variables = 0;
    for (const Expected& flag : kTable) {
        void* addr = dlsym(self, flag.name);
        if (flag.value == nullptr) {
            EXPECT_EQ(addr, nullptr) << flag.name;
            continue;
        }
        ++variables;
        ASSERT_NE(addr, nullptr) << flag.name;
        EXPECT_EQ(show(flag.type, addr), flag.value) << flag.name;
        Dl_info info;
        void* entry = nullptr;
        ASSERT_NE(dladdr1(addr, &info, &entry, RTLD_DL_SYMENT), 0) << flag.name;
        const auto* symbol = static_cast<const ElfW(Sym)*>(entry);
        ASSERT_NE(symbol, nullptr) << flag.name;
        EXPECT_STREQ(info.dli_sname, flag.name);
        EXPECT_EQ(symbol->st_size, widthOf(flag.type)) << flag.name;
        EXPECT_EQ(ELF64_ST_TYPE(symbol->st_info), STT_OBJECT) << flag.name;
    }
    EXPECT_EQ(variables, 141);
    dlclose(self);
}

TEST(FlagTable, RecordsFollowTheTableAndPointAtTheExportedVariables)
{
    ASSERT_EQ(sizeof(kTable) / sizeof(kTable[0]), static_cast<std::size_t>(Flag::kFlagCount));
    void* self = dlopen(nullptr, RTLD_NOW);
    for (int i = 0; i < Flag::kFlagCount; ++i) {
        const Flag& record = Flag::flags_[i];
        ASSERT_STREQ(record.name, kTable[i].name) << i;
        EXPECT_EQ(record.type, kTable[i].type) << record.name;
        EXPECT_EQ(record.addr, dlsym(self, record.name)) << record.name;
        EXPECT_TRUE(record.isDefault) << record.name;
        EXPECT_EQ(record.savedDefault, nullptr) << record.name;
        auto key = Flag::keyMap_.find(record.name);
        ASSERT_NE(key, Flag::keyMap_.end()) << record.name;
        EXPECT_EQ(key->second, i) << record.name;
    }
    EXPECT_EQ(Flag::keyMap_.size(), static_cast<std::size_t>(Flag::kFlagCount));
    const Flag& end = Flag::flags_[Flag::kFlagCount];
    EXPECT_EQ(end.name, nullptr);
    EXPECT_EQ(end.addr, nullptr);
    EXPECT_EQ(end.type, Flag::TYPE_NONE);
    EXPECT_TRUE(end.isDefault);
    EXPECT_EQ(end.savedDefault, nullptr);
    EXPECT_EQ(Flag::KORA_GRAPH_LOAD_SPEED_UP, 144);
    EXPECT_EQ(kxctrl::kxFeatureCtrl::updateCnt, 0);
    dlclose(self);
}

TEST(FlagTable, FlatEntryPointsArePlainNames)
{
    void* self = dlopen(nullptr, RTLD_NOW);
    for (const char* name : { "kxctrlInit", "kxctrlSetFlagValue", "kxctrlTearDown" }) {
        EXPECT_NE(dlsym(self, name), nullptr) << name;
    }
    dlclose(self);
}

} // namespace
