#ifndef KXDIAG_SETTINGS_H
#define KXDIAG_SETTINGS_H

#include <kxdiag/export.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

// Strips enclosing double quotes: leading blanks are skipped, and a value
// quoted with only blanks after the closing quote comes back as a copy of
// what lies between the quotes. Any other text (null included) is returned
// as given. A copy is allocated with malloc; the caller may free() a result
// that differs from text.
KXDIAG_API const char* removeQuotes(const char* text);

class KXDIAG_API SettingBase {
public:
    enum Type : int32_t {
        TYPE_NONE = 0,
        TYPE_BOOL = 1,
        TYPE_INT = 2,
        TYPE_UINT = 3,
        TYPE_SIZE = 4,
        TYPE_UINT64 = 5,
        TYPE_STRING = 6,
    };

    virtual ~SettingBase();
    virtual bool setValue(const char* text) = 0;
    virtual bool setDefaultValue(const char* text) = 0;
    // Null while the setting has neither a default nor a value.
    virtual const void* getValue() = 0;
    virtual std::string& name() = 0;
    virtual bool isRealtime() = 0;
    // Re-reads the environment; false when the variable is not set.
    virtual bool reload() = 0;
};

template <typename T>
class KXDIAG_API Setting final : public SettingBase {
public:
    Setting(std::string envName, bool realtime, Type type);

    bool setValue(const char* text) override;
    bool setDefaultValue(const char* text) override;
    const void* getValue() override;
    std::string& name() override;
    bool isRealtime() override;
    bool reload() override;

private:
    bool parse(const char* text);

    std::string envName;
    bool realtime;
    bool hasDefault = false;
    bool isSet = false;
    Type type;
    T value{};
    T defaultValue{};
};

extern template class Setting<std::string>;
extern template class Setting<bool>;
extern template class Setting<int>;
extern template class Setting<unsigned int>;
extern template class Setting<unsigned long>;

// One row of an identity table: what a key is read from and how.
struct KXDIAG_API SettingRow {
    std::string envName;
    SettingBase::Type type = SettingBase::TYPE_NONE;
    std::string defaultText; // empty: no default
    bool realtime = false;
};

using SettingTable = std::map<std::string, SettingRow>;

// The process-wide settings store. Values come from the environment once, when
// the store is created; realtime settings follow the environment on each query.
class KXDIAG_API kxSettings {
public:
    static kxSettings* getInstance();
    // Ends the instance; every value pointer taken from it becomes invalid.
    static void release();

    kxSettings(const kxSettings&) = delete;
    kxSettings& operator=(const kxSettings&) = delete;

    bool init();
    bool readIdentity();
    void initDefaultIdentity(SettingTable& table);
    void initStack1Identity(SettingTable& table);
    void insertSet(const SettingTable& table);
    void assignSet();

    // Value pointers: the characters of a string setting, otherwise the
    // address of its bool or unsigned long. Null for unknown keys.
    const void* getValue(const std::string& key, bool realtime);
    SettingBase* getSetting(const std::string& key);
    const void* getValueForNotRealtime(const std::string& key);
    const char* getEnvName(const std::string& key);
    void showAllKey();

    const char* getInstalledPath();
    const char* installedPathName();
    const char* getBinaryCacheClean();
    const char* binaryCacheCleanName();
    const char* getCacheDisable();
    const char* cacheDisableName();
    const char* getCachePath();
    const char* cachePathName();
    const unsigned long* getCacheSize();
    const bool* getTest();
    const bool* getTestWithDefault();
    const bool* getTestWithRealtime();
    const bool* getTestWithRltAndDef();

private:
    kxSettings();
    ~kxSettings();

    std::unordered_map<std::string, const void*> valueCache;
    bool isDefaultIdentity = false;
    std::string identity;
    std::map<std::string, std::unique_ptr<SettingBase>> settings;
    std::unordered_map<std::string, std::string> envNames;

    static std::mutex mutex_;
    static kxSettings* instance_;
};

#endif
