#pragma once

#include <kxdiag/ctrl.h>

#include <cstddef>
#include <string>

namespace kxctrl {
namespace impl {

// Bytes of a flag variable of this type; 0 for TYPE_NONE and unknown types.
std::size_t valueWidth(Flag::Type type);

// Parses text by type into the variable at addr. False for TYPE_NONE, unknown
// types and a null text of a non-string type. A string keeps the caller's
// pointer unless quote stripping needs a copy.
bool storeValue(Flag::Type type, void* addr, const char* text);

// A copy of text that lives as long as the process: string flags may be read
// by the platform at any time, even during its own teardown. Equal texts share
// one copy, so setting a flag repeatedly does not grow memory.
const char* keepText(const std::string& text);

// Takes and drops the private copy of a variable's value kept for the change report.
void* copyValue(Flag::Type type, const void* addr);
void releaseCopy(void*& copy);

} // namespace impl
} // namespace kxctrl
