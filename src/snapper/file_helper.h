#pragma once

#include "log/spdlog_config.h"

#include <kxdiag/snapper.h>

#include <spdlog/details/file_helper.h>

#include <string>

namespace kxsnapper {
namespace impl {

// The result of creating dir with its missing parents and checking that the
// process may write there.
enum class DirStatus { OK, NOT_CREATED, NOT_WRITABLE };

DirStatus prepareDir(const std::string& dir);

spdlog::file_event_handlers toFileEventHandlers(const FileHelperEventHandlers& handlers);

// "enable" -> 1, "disable" -> 0, anything else (or an unset variable) -> -1.
int readRecordSwitch(const std::string& variableName);

} // namespace impl
} // namespace kxsnapper
