#include "ctrl/flag_value.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <unordered_set>

namespace kxctrl {
namespace impl {
namespace {

bool hasHexPrefix(const char* text)
{
    return text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
}

// "true", or any text whose base-10 value has non-zero low 32 bits; so "TRUE"
// and "yes" are false, while "2" is true.
bool parseBool(const char* text)
{
    return std::strcmp(text, "true") == 0 || static_cast<uint32_t>(std::strtol(text, nullptr, 10)) != 0;
}

// Hexadecimal with a 0x prefix, else decimal (no octal: "020" is 20); only
// the low 32 bits are kept.
uint32_t parseWord(const char* text)
{
    return static_cast<uint32_t>(std::strtol(text, nullptr, hasHexPrefix(text) ? 16 : 10));
}

// Decimal through the signed conversion, so "-1" is all ones and larger
// decimal texts saturate at the signed maximum.
uint64_t parseMask(const char* text)
{
    if (hasHexPrefix(text)) {
        return std::strtoull(text, nullptr, 16);
    }
    return static_cast<uint64_t>(std::strtoll(text, nullptr, 10));
}

// A value enclosed in double quotes, with only blanks around, loses the
// quotes and the blanks; anything else is kept as given, blanks included.
const char* stripQuotes(const char* text)
{
    const char* open = text;
    while (*open == ' ') {
        ++open;
    }
    if (*open != '"' || open[1] == '\0') {
        return text;
    }
    const char* close = std::strrchr(open, '"');
    if (close == open) {
        return text;
    }
    const char* rest = close + 1;
    while (*rest == ' ') {
        ++rest;
    }
    if (*rest != '\0') {
        return text;
    }
    return keepText(std::string(open + 1, close));
}

} // namespace

std::size_t valueWidth(Flag::Type type)
{
    switch (type) {
    case Flag::TYPE_BOOL:
        return sizeof(bool);
    case Flag::TYPE_INT:
        return sizeof(int32_t);
    case Flag::TYPE_UINT:
        return sizeof(uint32_t);
    case Flag::TYPE_SIZE:
        return sizeof(size_t);
    case Flag::TYPE_UINT64:
        return sizeof(uint64_t);
    case Flag::TYPE_STRING:
        return sizeof(const char*);
    default:
        return 0;
    }
}

bool storeValue(Flag::Type type, void* addr, const char* text)
{
    if (text == nullptr && type != Flag::TYPE_STRING) {
        return false;
    }
    switch (type) {
    case Flag::TYPE_BOOL:
        *static_cast<bool*>(addr) = parseBool(text);
        return true;
    case Flag::TYPE_INT:
        *static_cast<int32_t*>(addr) = static_cast<int32_t>(parseWord(text));
        return true;
    case Flag::TYPE_UINT:
        *static_cast<uint32_t*>(addr) = parseWord(text);
        return true;
    case Flag::TYPE_SIZE:
        *static_cast<size_t*>(addr) = static_cast<size_t>(std::strtol(text, nullptr, 10));
        return true;
    case Flag::TYPE_UINT64:
        *static_cast<uint64_t*>(addr) = parseMask(text);
        return true;
    case Flag::TYPE_STRING:
        *static_cast<const char**>(addr) = text ? stripQuotes(text) : nullptr;
        return true;
    default:
        return false;
    }
}

const char* keepText(const std::string& text)
{
    // Never destroyed: the pointers handed out must outlive every reader.
    static auto* kept = new std::unordered_set<std::string>();
    return kept->insert(text).first->c_str();
}

void* copyValue(Flag::Type type, const void* addr)
{
    auto* copy = new unsigned char[valueWidth(type)];
    std::memcpy(copy, addr, valueWidth(type));
    return copy;
}

void releaseCopy(void*& copy)
{
    delete[] static_cast<unsigned char*>(copy);
    copy = nullptr;
}

} // namespace impl
} // namespace kxctrl
