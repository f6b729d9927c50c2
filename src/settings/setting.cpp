#include <kxdiag/settings.h>

#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>

namespace {

// The text between enclosing double quotes, when the value is quoted with only
// blanks after the closing quote; false when the value is to be kept as given.
bool quotedPart(const char* text, std::string_view& inner)
{
    const char* open = text;
    while (*open == ' ') {
        ++open;
    }
    if (*open != '"' || open[1] == '\0') {
        return false;
    }
    const char* close = std::strrchr(open, '"');
    if (close == open) {
        return false;
    }
    for (const char* rest = close + 1; *rest; ++rest) {
        if (*rest != ' ') {
            return false;
        }
    }
    inner = std::string_view(open + 1, static_cast<size_t>(close - open - 1));
    return true;
}

} // namespace

const char* removeQuotes(const char* text)
{
    std::string_view inner;
    if (!text || !quotedPart(text, inner)) {
        return text;
    }
    char* copy = static_cast<char*>(std::malloc(inner.size() + 1));
    if (!copy) {
        return text;
    }
    std::memcpy(copy, inner.data(), inner.size());
    copy[inner.size()] = '\0';
    return copy;
}

SettingBase::~SettingBase() = default;

template <typename T>
Setting<T>::Setting(std::string envName, bool realtime, Type type)
    : envName(std::move(envName))
    , realtime(realtime)
    , type(type)
{
}

template <typename T>
bool Setting<T>::parse(const char* text)
{
    if (!text) {
        return false;
    }
    if constexpr (std::is_same_v<T, std::string>) {
        if (type != TYPE_STRING) {
            return false;
        }
        std::string_view inner;
        if (quotedPart(text, inner)) {
            value.assign(inner.data(), inner.size());
        } else {
            value = text;
        }
        return true;
    } else {
        unsigned long long number = 0;
        switch (type) {
        case TYPE_BOOL:
            number = std::strcmp(text, "true") == 0
                || static_cast<int32_t>(std::strtol(text, nullptr, 10)) != 0;
            break;
        case TYPE_INT:
        case TYPE_UINT:
        case TYPE_SIZE:
            number = static_cast<unsigned long long>(std::strtol(text, nullptr, 10));
            break;
        case TYPE_UINT64:
            number = std::strtoull(text, nullptr, 16);
            break;
        default:
            return false;
        }
        if constexpr (std::is_same_v<T, bool>) {
            value = number != 0;
        } else {
            value = static_cast<T>(number);
        }
        return true;
    }
}

template <typename T>
bool Setting<T>::setValue(const char* text)
{
    if (!parse(text)) {
        return false;
    }
    isSet = true;
    return true;
}

template <typename T>
bool Setting<T>::setDefaultValue(const char* text)
{
    parse(text);
    defaultValue = value;
    hasDefault = true;
    return true;
}

template <typename T>
const void* Setting<T>::getValue()
{
    if (!hasDefault && !isSet) {
        return nullptr;
    }
    if constexpr (std::is_same_v<T, std::string>) {
        return value.c_str();
    } else {
        return &value;
    }
}

template <typename T>
std::string& Setting<T>::name()
{
    return envName;
}

template <typename T>
bool Setting<T>::isRealtime()
{
    return realtime;
}

template <typename T>
bool Setting<T>::reload()
{
    const char* text = std::getenv(envName.c_str());
    if (text) {
        parse(text);
        isSet = true;
        return true;
    }
    if (hasDefault) {
        value = defaultValue;
    }
    isSet = false;
    return false;
}

template class Setting<std::string>;
template class Setting<bool>;
template class Setting<int>;
template class Setting<unsigned int>;
template class Setting<unsigned long>;
