#pragma once

#include <kxdiag/ctrl.h>

#include "log/ini_reader.h"

#include <string>

namespace kxctrl {

// Where a configuration file is looked up: $KORA_ETC_PATH/<name> when that
// exists, else $KORA_PATH/etc/<name>, else "".
std::string getCfgFile(const std::string& name);

// Parses the value of key in section "ExecutionControl" into the variable at
// addr. False when the section or key is missing or the type stores nothing.
bool getValueFromFile(const mINI::INIStructure& ini, const std::string& key, Flag::Type type, void* addr);

} // namespace kxctrl
