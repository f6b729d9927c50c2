#include <kxdiag/ctrl.h>
#include <kxdiag/snapper.h>

#include "ctrl/flag_value.h"

#include <cstring>

// The flag variables, with C linkage so the platform finds them under their
// plain names. Their defaults are static initialisers: no code has to run
// before the platform may read them.
#define KXCTRL_DEFINE_VARIABLE(name, type, value) KXDIAG_API KXCTRL_CTYPE_##type name = value;
#define KXCTRL_NO_VARIABLE(name, type)
extern "C" {
KXCTRL_FLAG_LIST(KXCTRL_DEFINE_VARIABLE, KXCTRL_NO_VARIABLE)
}
#undef KXCTRL_DEFINE_VARIABLE
#undef KXCTRL_NO_VARIABLE

namespace kxctrl {

// Inside Flag's scope the bare names are the Name enumerators, hence "::".
#define KXCTRL_RECORD(name, type, value) { #name, &::name, Flag::TYPE_##type, true, nullptr },
#define KXCTRL_PLACEHOLDER_RECORD(name, type) { #name, nullptr, Flag::TYPE_##type, true, nullptr },
Flag Flag::flags_[kFlagCount + 1] = {
    KXCTRL_FLAG_LIST(KXCTRL_RECORD, KXCTRL_PLACEHOLDER_RECORD)
    { nullptr, nullptr, Flag::TYPE_NONE, true, nullptr },
};
#undef KXCTRL_RECORD
#undef KXCTRL_PLACEHOLDER_RECORD

#define KXCTRL_KEY(name, ...) { #name, Flag::name },
std::unordered_map<std::string, Flag::Name> Flag::keyMap_ = { KXCTRL_FLAG_LIST(KXCTRL_KEY, KXCTRL_KEY) };
#undef KXCTRL_KEY

namespace {

template <typename T>
T valueAt(const void* addr)
{
    T value;
    std::memcpy(&value, addr, sizeof(T));
    return value;
}

// A string flag may hold a null pointer, which printf must not see.
const char* printable(const char* text)
{
    return text ? text : "(null)";
}

} // namespace

bool Flag::setValue(const char* text)
{
    if (addr == nullptr || (text == nullptr && type != TYPE_STRING)) {
        return false;
    }
    isDefault = false;
    return impl::storeValue(type, addr, text);
}

void Flag::setDefaultValue()
{
    if (addr == nullptr || impl::valueWidth(type) == 0) {
        return;
    }
    void* copy = impl::copyValue(type, addr);
    impl::releaseCopy(savedDefault);
    savedDefault = copy;
}

void Flag::logValueChange()
{
    if (addr == nullptr || savedDefault == nullptr) {
        return;
    }
    std::size_t width = impl::valueWidth(type);
    if (width != 0 && std::memcmp(addr, savedDefault, width) != 0) {
        using kxlog::kxLevel_enum;
        auto level = std::strncmp(name, "KORA", 4) == 0 ? kxLevel_enum::INFO : kxLevel_enum::WARN;
        const auto& logger = kxsnapper::utils::g_snapperlog;
        if (logger && logger->shouldLog(level)) {
            using kxlog::api::kxLog;
            switch (type) {
            case TYPE_BOOL:
                kxLog(logger, level, "| %-30s | %-15d | %-15d |\n", name, int(valueAt<bool>(addr)),
                    int(valueAt<bool>(savedDefault)));
                break;
            case TYPE_INT:
            case TYPE_UINT:
                kxLog(logger, level, "| %-30s | %-15d | %-15d |\n", name, valueAt<int32_t>(addr),
                    valueAt<int32_t>(savedDefault));
                break;
            case TYPE_SIZE:
                kxLog(logger, level, "| %-30s | %-15zu | %-15zu |\n", name, valueAt<size_t>(addr),
                    valueAt<size_t>(savedDefault));
                break;
            case TYPE_UINT64:
                kxLog(logger, level, "| %-30s | %-15llu | %-15llu |\n", name,
                    static_cast<unsigned long long>(valueAt<uint64_t>(addr)),
                    static_cast<unsigned long long>(valueAt<uint64_t>(savedDefault)));
                break;
            case TYPE_STRING:
                kxLog(logger, level, "| %-30s | %-15s | %-15s |\n", name, printable(valueAt<const char*>(addr)),
                    printable(valueAt<const char*>(savedDefault)));
                break;
            default:
                break;
            }
        }
    }
    impl::releaseCopy(savedDefault);
}

void Flag::tearDown() {}

} // namespace kxctrl
