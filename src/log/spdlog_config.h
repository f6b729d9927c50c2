#pragma once

// Our level tables replace spdlog's; they only take effect when this header is
// seen before any spdlog header, so every spdlog include goes through here.
#ifdef SPDLOG_VER_MAJOR
#error "spdlog was included before kxdiag's spdlog configuration"
#endif
#ifdef SPDLOG_COMPILED_LIB
#error "kxdiag uses spdlog header-only"
#endif

#ifndef SPDLOG_FMT_EXTERNAL
#define SPDLOG_FMT_EXTERNAL 1
#endif
#define SPDLOG_LEVEL_NAMES { "verbose", "debug", "info", "warning", "error", "critical", "off" }
#define SPDLOG_SHORT_LEVEL_NAMES { "V", "D", "I", "W", "E", "F", "O" }
