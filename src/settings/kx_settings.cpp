#include <kxdiag/settings.h>

#include <cstring>
#include <iostream>

extern char** environ;

namespace {

// Each entry split at its first "="; entries without one are skipped, an empty
// value is kept as a single blank and the first of duplicate names wins.
std::unordered_map<std::string, std::string> environmentSnapshot()
{
    std::unordered_map<std::string, std::string> snapshot;
    for (char** entry = environ; entry && *entry; ++entry) {
        const char* equals = std::strchr(*entry, '=');
        if (!equals) {
            continue;
        }
        std::string value(equals + 1);
        if (value.empty()) {
            value = " ";
        }
        snapshot.emplace(std::string(*entry, static_cast<size_t>(equals - *entry)), std::move(value));
    }
    return snapshot;
}

std::unique_ptr<SettingBase> makeSetting(const SettingRow& row)
{
    switch (row.type) {
    case SettingBase::TYPE_BOOL:
        return std::make_unique<Setting<bool>>(row.envName, row.realtime, row.type);
    case SettingBase::TYPE_INT:
        return std::make_unique<Setting<int>>(row.envName, row.realtime, row.type);
    case SettingBase::TYPE_UINT:
        return std::make_unique<Setting<unsigned int>>(row.envName, row.realtime, row.type);
    case SettingBase::TYPE_SIZE:
    case SettingBase::TYPE_UINT64:
        return std::make_unique<Setting<unsigned long>>(row.envName, row.realtime, row.type);
    case SettingBase::TYPE_STRING:
        return std::make_unique<Setting<std::string>>(row.envName, row.realtime, row.type);
    default:
        return nullptr;
    }
}

} // namespace

std::mutex kxSettings::mutex_;
kxSettings* kxSettings::instance_ = nullptr;

kxSettings* kxSettings::getInstance()
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!instance_) {
        instance_ = new kxSettings();
    }
    return instance_;
}

void kxSettings::release()
{
    std::lock_guard<std::mutex> lock(mutex_);
    delete instance_;
    instance_ = nullptr;
}

kxSettings::kxSettings()
{
    init();
}

kxSettings::~kxSettings() = default;

bool kxSettings::init()
{
    identity = "KORA";
    isDefaultIdentity = identity == "KORA";
    readIdentity();
    assignSet();
    return true;
}

bool kxSettings::readIdentity()
{
    SettingTable table;
    if (identity == "KORA") {
        initDefaultIdentity(table);
    } else if (identity == "SWSTACK1") {
        initStack1Identity(table);
    }
    insertSet(table);
    return true;
}

void kxSettings::initDefaultIdentity(SettingTable& table)
{
    table["install_path"] = {"KORA_PATH", SettingBase::TYPE_STRING, "/opt/kora", false};
    table["binary_cache_clean"] = {"KORA_BINARY_CACHE_CLEAN", SettingBase::TYPE_STRING, "", false};
    table["cache_func_disable"] = {"KORA_CACHE_DISABLE", SettingBase::TYPE_STRING, "", false};
    table["cache_path"] = {"KORA_CACHE_PATH", SettingBase::TYPE_STRING, "", false};
    table["cache_size"] = {"KORA_CACHE_MAXSIZE", SettingBase::TYPE_SIZE, "", false};
    table["test_bool"] = {"FRONT_TEST1", SettingBase::TYPE_BOOL, "", false};
    table["test_bool_with_default"] = {"FRONT_TEST2", SettingBase::TYPE_BOOL, "1", false};
    table["test_bool_with_realtime"] = {"FRONT_TEST3", SettingBase::TYPE_BOOL, "", true};
    table["test_bool_default_and_realtime"] = {"FRONT_TEST4", SettingBase::TYPE_BOOL, "1", true};
}

void kxSettings::initStack1Identity(SettingTable& table)
{
    table["install_path"] = {"STACK1_PATH", SettingBase::TYPE_STRING, "/opt/stack1", false};
    table["binary_cache_clean"] = {"STACK1_BINARY_CACHE_CLEAN", SettingBase::TYPE_STRING, "", false};
    table["cache_func_disable"] = {"STACK1_CACHE_DISABLE", SettingBase::TYPE_STRING, "", false};
    table["cache_path"] = {"STACK1_CACHE_PATH", SettingBase::TYPE_STRING, "", false};
    table["cache_size"] = {"STACK1_CACHE_MAXSIZE", SettingBase::TYPE_SIZE, "", false};
    table["test_bool"] = {"STACK1_FRONT_TEST1", SettingBase::TYPE_BOOL, "", false};
    table["test_bool_with_default"] = {"STACK1_FRONT_TEST2", SettingBase::TYPE_BOOL, "1", false};
    table["test_bool_with_realtime"] = {"STACK1_FRONT_TEST3", SettingBase::TYPE_BOOL, "", true};
}

void kxSettings::insertSet(const SettingTable& table)
{
    for (const auto& [key, row] : table) {
        envNames.emplace(key, row.envName);
        std::unique_ptr<SettingBase> setting = makeSetting(row);
        if (!setting) {
            continue;
        }
        if (!row.defaultText.empty()) {
            setting->setDefaultValue(row.defaultText.c_str());
        }
        settings[key] = std::move(setting);
    }
}

void kxSettings::assignSet()
{
    const auto snapshot = environmentSnapshot();
    for (auto& [key, setting] : settings) {
        auto found = snapshot.find(setting->name());
        if (found != snapshot.end()) {
            setting->setValue(found->second.c_str());
        }
        if (!setting->isRealtime()) {
            valueCache[key] = setting->getValue();
        }
    }
}

const void* kxSettings::getValue(const std::string& key, bool realtime)
{
    SettingBase* setting = getSetting(key);
    if (!setting) {
        return nullptr;
    }
    if (realtime) {
        setting->reload();
    }
    return setting->getValue();
}

SettingBase* kxSettings::getSetting(const std::string& key)
{
    auto found = settings.find(key);
    return found == settings.end() ? nullptr : found->second.get();
}

const void* kxSettings::getValueForNotRealtime(const std::string& key)
{
    auto found = valueCache.find(key);
    return found == valueCache.end() ? nullptr : found->second;
}

const char* kxSettings::getEnvName(const std::string& key)
{
    auto found = envNames.find(key);
    return found == envNames.end() ? nullptr : found->second.c_str();
}

void kxSettings::showAllKey()
{
    for (auto& [key, setting] : settings) {
        std::cout << "id:" << key << ", detail: " << std::endl;
        std::cout << "\tname:" << setting->name() << ", is realtime:" << (setting->isRealtime() ? 1 : 0)
                  << std::endl;
    }
}

const char* kxSettings::getInstalledPath()
{
    return static_cast<const char*>(getValueForNotRealtime("install_path"));
}

const char* kxSettings::installedPathName()
{
    return getEnvName("install_path");
}

const char* kxSettings::getBinaryCacheClean()
{
    return static_cast<const char*>(getValueForNotRealtime("binary_cache_clean"));
}

const char* kxSettings::binaryCacheCleanName()
{
    return getEnvName("binary_cache_clean");
}

const char* kxSettings::getCacheDisable()
{
    return static_cast<const char*>(getValueForNotRealtime("cache_func_disable"));
}

const char* kxSettings::cacheDisableName()
{
    return getEnvName("cache_func_disable");
}

const char* kxSettings::getCachePath()
{
    return static_cast<const char*>(getValueForNotRealtime("cache_path"));
}

const char* kxSettings::cachePathName()
{
    return getEnvName("cache_path");
}

const unsigned long* kxSettings::getCacheSize()
{
    return static_cast<const unsigned long*>(getValueForNotRealtime("cache_size"));
}

const bool* kxSettings::getTest()
{
    return static_cast<const bool*>(getValueForNotRealtime("test_bool"));
}

const bool* kxSettings::getTestWithDefault()
{
    return static_cast<const bool*>(getValueForNotRealtime("test_bool_with_default"));
}

const bool* kxSettings::getTestWithRealtime()
{
    return static_cast<const bool*>(getValue("test_bool_with_realtime", true));
}

const bool* kxSettings::getTestWithRltAndDef()
{
    return static_cast<const bool*>(getValue("test_bool_default_and_realtime", true));
}
