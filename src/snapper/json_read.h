#pragma once

#include <kxdiag/log.h>
#include <kxdiag/snapper.h>

#include <json/json.h>

#include <cstring>
#include <optional>
#include <string>

// tools.json is written by hand. jsoncpp throws when a value cannot be converted to the
// type asked for, or when a non-object is indexed by key; these readers turn every such
// case into "absent" so a typo never escapes into the host process.
namespace kxsnapper {
namespace cfgjson {

inline bool qvsLogs(kxlog::kxLevel_enum level)
{
    const auto& log = utils::g_snapperlog;
    return log && log->shouldLog(level);
}

// The member named key, or null when value is not an object or has no such member.
inline const Json::Value* member(const Json::Value& value, const char* key)
{
    if (!value.isObject()) {
        return nullptr;
    }
    return value.find(key, key + std::strlen(key));
}

template <typename T, typename Convert>
std::optional<T> convert(const Json::Value* value, Convert conv)
{
    if (value == nullptr) {
        return std::nullopt;
    }
    try {
        return conv(*value);
    } catch (const Json::Exception&) {
        return std::nullopt;
    }
}

// Converting reads: what jsoncpp can convert is taken, the rest counts as absent.
inline std::optional<int> asInt(const Json::Value& obj, const char* key)
{
    return convert<int>(member(obj, key), [](const Json::Value& v) { return v.asInt(); });
}

inline std::optional<bool> asBool(const Json::Value& obj, const char* key)
{
    return convert<bool>(member(obj, key), [](const Json::Value& v) { return v.asBool(); });
}

inline std::optional<std::string> asString(const Json::Value& obj, const char* key)
{
    return convert<std::string>(member(obj, key), [](const Json::Value& v) { return v.asString(); });
}

// The member when it is of the named JSON type, else null.
inline const Json::Value* array(const Json::Value& obj, const char* key)
{
    const Json::Value* v = member(obj, key);
    return v != nullptr && v->isArray() ? v : nullptr;
}

inline const Json::Value* object(const Json::Value& obj, const char* key)
{
    const Json::Value* v = member(obj, key);
    return v != nullptr && v->isObject() ? v : nullptr;
}

} // namespace cfgjson
} // namespace kxsnapper
