#include <kxdiag/ctrl.h>

#include <cstdint>
#include <cstdlib>

namespace kxctrl {
namespace {

// Which bit of which mask drives which flag, masks in relay order, bits ascending.
struct Relay {
    Flag::Name mask;
    int bit;
    Flag::Name target;
};

constexpr Relay kRelays[] = {
    { Flag::FEATURE_MASK_CUSTOMIZE, 1, Flag::MEMSET_IN_MALLOC },
    { Flag::FEATURE_MASK_CUSTOMIZE, 2, Flag::RECT_COPY_BY_KERNEL },
    { Flag::FEATURE_MASK_CUSTOMIZE, 3, Flag::KXTX_TARGET_INIT },
    { Flag::FEATURE_MASK_CUSTOMIZE, 4, Flag::FORCE_COMP_PERF_ENABLE },
    { Flag::FEATURE_MASK_CUSTOMIZE, 5, Flag::EXTEND_SDMA_CHANNEL },
    { Flag::FEATURE_MASK_PROFILE, 0, Flag::HOTSPOT_API_LEVEL0 },
    { Flag::FEATURE_MASK_PROFILE, 1, Flag::HOTSPOT_API_LEVEL1 },
    { Flag::FEATURE_MASK_PROFILE, 2, Flag::HOTSPOT_API_LEVEL2 },
    { Flag::FEATURE_MASK_PROFILE, 3, Flag::HOTSPOT_API_LEVEL3 },
    { Flag::FEATURE_MASK_PROFILE, 4, Flag::HOTSPOT_HOSTQUEUE_LEVEL0 },
    { Flag::FEATURE_MASK_PROFILE, 5, Flag::HOTSPOT_HOSTQUEUE_LEVEL1 },
    { Flag::FEATURE_MASK_PROFILE, 6, Flag::HOTSPOT_HOSTQUEUE_LEVEL2 },
    { Flag::FEATURE_MASK_PROFILE, 7, Flag::HOTSPOT_HOSTQUEUE_LEVEL3 },
    { Flag::FEATURE_MASK_PROFILE, 8, Flag::HOTSPOT_COMMAND_LEVEL0 },
    { Flag::FEATURE_MASK_PROFILE, 9, Flag::HOTSPOT_COMMAND_LEVEL1 },
    { Flag::FEATURE_MASK_PROFILE, 10, Flag::HOTSPOT_COMMAND_LEVEL2 },
    { Flag::FEATURE_MASK_PROFILE, 11, Flag::HOTSPOT_COMMAND_LEVEL3 },
    { Flag::FEATURE_MASK_PROFILE, 12, Flag::HOTSPOT_DEVICE_LEVEL0 },
    { Flag::FEATURE_MASK_PROFILE, 13, Flag::HOTSPOT_DEVICE_LEVEL1 },
    { Flag::FEATURE_MASK_PROFILE, 14, Flag::HOTSPOT_DEVICE_LEVEL2 },
    { Flag::FEATURE_MASK_PROFILE, 15, Flag::HOTSPOT_DEVICE_LEVEL3 },
    { Flag::FEATURE_MASK_PROFILE, 16, Flag::HOTSPOT_SIGNAL_LEVEL0 },
    { Flag::FEATURE_MASK_PROFILE, 17, Flag::HOTSPOT_SIGNAL_LEVEL1 },
    { Flag::FEATURE_MASK_PROFILE, 18, Flag::HOTSPOT_SIGNAL_LEVEL2 },
    { Flag::FEATURE_MASK_PROFILE, 19, Flag::HOTSPOT_SIGNAL_LEVEL3 },
    { Flag::FEATURE_MASK_PROFILE, 20, Flag::HOTSPOT_BASIC_LEVEL0 },
    { Flag::FEATURE_MASK_PROFILE, 21, Flag::HOTSPOT_BASIC_LEVEL1 },
    { Flag::FEATURE_MASK_PROFILE, 22, Flag::HOTSPOT_BASIC_LEVEL2 },
    { Flag::FEATURE_MASK_PROFILE, 23, Flag::HOTSPOT_BASIC_LEVEL3 },
    { Flag::FEATURE_MASK_PROFILE, 24, Flag::HOTSPOT_QVKW_LEVEL0 },
    { Flag::FEATURE_MASK_PROFILE, 25, Flag::HOTSPOT_QVKW_LEVEL1 },
    { Flag::FEATURE_MASK_PROFILE, 26, Flag::HOTSPOT_QVKW_LEVEL2 },
    { Flag::FEATURE_MASK_PROFILE, 27, Flag::HOTSPOT_QVKW_LEVEL3 },
    { Flag::FEATURE_MASK_PROFILE, 28, Flag::HOTSPOT_MEMORY_LEVEL0 },
    { Flag::FEATURE_MASK_PROFILE, 29, Flag::HOTSPOT_MEMORY_LEVEL1 },
    { Flag::FEATURE_MASK_PROFILE, 30, Flag::HOTSPOT_MEMORY_LEVEL2 },
    { Flag::FEATURE_MASK_PROFILE, 31, Flag::HOTSPOT_MEMORY_LEVEL3 },
    { Flag::FEATURE_MASK_PROFILE, 48, Flag::HOTSPOT_CUSTOMIZE_LEVEL0 },
    { Flag::FEATURE_MASK_PROFILE, 49, Flag::HOTSPOT_CUSTOMIZE_LEVEL1 },
    { Flag::FEATURE_MASK_PROFILE, 50, Flag::HOTSPOT_CUSTOMIZE_LEVEL2 },
    { Flag::FEATURE_MASK_PROFILE, 51, Flag::HOTSPOT_CUSTOMIZE_LEVEL3 },
    { Flag::FEATURE_MASK_PROFILE, 61, Flag::HOTSPOT_FOLLOW_PTI_ACTIVITY },
    { Flag::FEATURE_MASK_PROFILE, 62, Flag::HOTSPOT_REAL_TIME_DUMP_WHEN_FULL },
    { Flag::FEATURE_MASK_PROFILE, 63, Flag::HOTSPOT_REAL_TIME_DUMP },
    { Flag::FEATURE_MASK_TEST, 2, Flag::USE_NULL_HARDWARE },
    { Flag::FEATURE_MASK_TEST, 3, Flag::USE_NULL_COMPUTE },
};

// Relays the bits of every mask that was given a value; a mask still at its
// default relays nothing. keep(target) tells which targets hold their value.
template <typename Keep>
void relay(Keep keep)
{
    for (const Relay& entry : kRelays) {
        const Flag& mask = Flag::flags_[entry.mask];
        Flag& target = Flag::flags_[entry.target];
        if (mask.isDefault || keep(target)) {
            continue;
        }
        uint64_t bits = *static_cast<const uint64_t*>(mask.addr);
        *static_cast<bool*>(target.addr) = ((bits >> entry.bit) & 1) != 0;
        target.isDefault = false;
    }
}

} // namespace

int32_t kxFeatureCtrl::updateCnt = 0;

int kxFeatureCtrl::updateFeatureMask()
{
    if (updateCnt == 0) {
        updateCnt = 1;
        return updateRelayDefault();
    }
    return updateRelayEnv();
}

int kxFeatureCtrl::updateRelayDefault()
{
    relay([](const Flag& target) { return !target.isDefault; });
    return 1;
}

int kxFeatureCtrl::updateRelayEnv()
{
    relay([](const Flag& target) { return std::getenv(target.name) != nullptr; });
    return 1;
}

} // namespace kxctrl
