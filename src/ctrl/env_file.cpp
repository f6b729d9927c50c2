#include "ctrl/env_file.h"

#include "ctrl/flag_value.h"

#include <cstdlib>
#include <map>

#include <unistd.h>

namespace kxctrl {
namespace {

std::string envText(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

// The only flags env.ini can set, in the order they are applied.
const std::map<std::string, Flag::Name> g_envFromFile = {
    { "KORA_MPS_MODE", Flag::KORA_MPS_MODE },
    { "KORA_TRAP_HANDLER", Flag::KORA_TRAP_HANDLER },
};

} // namespace

std::string getCfgFile(const std::string& name)
{
    std::string etc = envText("KORA_ETC_PATH");
    if (!etc.empty()) {
        std::string path = etc + "/" + name;
        if (access(path.c_str(), F_OK) == 0) {
            return path;
        }
    }
    std::string root = envText("KORA_PATH");
    return root.empty() ? std::string() : root + "/etc/" + name;
}

bool getValueFromFile(const mINI::INIStructure& ini, const std::string& key, Flag::Type type, void* addr)
{
    if (!ini.contains("ExecutionControl")) {
        return false;
    }
    const auto section = ini.get("ExecutionControl");
    if (!section.contains(key)) {
        return false;
    }
    const std::string value = section.get(key);
    // The INI structure goes away after loading; a stored string must not.
    const char* text = type == Flag::TYPE_STRING ? impl::keepText(value) : value.c_str();
    return impl::storeValue(type, addr, text);
}

void Flag::setValueFromFile()
{
    std::string path = getCfgFile("env.ini");
    if (path.empty()) {
        return;
    }
    mINI::INIStructure ini;
    mINI::INIReader reader(path);
    if (!(reader >> ini)) {
        return;
    }
    for (const auto& entry : g_envFromFile) {
        Flag& flag = flags_[entry.second];
        if (flag.isDefault && flag.addr && getValueFromFile(ini, entry.first, flag.type, flag.addr)) {
            flag.isDefault = false;
        }
    }
}

} // namespace kxctrl
