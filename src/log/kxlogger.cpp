#include "log/kxlogger_impl.h"

#include "log/log_call.h"

#include <kxdiag/kxdiag.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace kxlog {
namespace api {

kxlogger::impl::impl(const std::string& loggerName)
    : entity(std::make_shared<spdlog::logger>(loggerName))
{
    entity->set_level(spdlog::level::info);
    entity->flush_on(spdlog::level::off);
}

void kxlogger::impl::setEntity(std::shared_ptr<spdlog::logger> logger)
{
    entity = std::move(logger);
    name = entity->name();
}

kxlogger::kxlogger(const std::string& name)
    : pimpl(std::make_unique<impl>(name))
{
}

kxlogger::~kxlogger() = default;

bool kxlogger::shouldLog(kxLevel_enum level)
{
    return pimpl->entity->should_log(kxlog::impl::toSpdLevel(level));
}

std::string kxlogger::name() const
{
    return pimpl->entity->name();
}

void kxlogger::backtrace(kxLevel_enum level, int depth, const char* prefix, const char* format, ...)
{
    char** symbols = nullptr;
    int count = backtraces(&symbols, depth);
    if (!symbols) {
        return;
    }
    va_list args;
    va_start(args, format);
    std::string text = kxlog::impl::formatUnbounded(format, args);
    va_end(args);
    for (int i = 0; i < count; ++i) {
        text += prefix ? prefix : "";
        text += symbols[i];
        text += '\n';
    }
    std::free(symbols);
    kxlog::impl::writeMessage(*pimpl->entity, kxlog::impl::toSpdLevel(level), text);
}

} // namespace api
} // namespace kxlog
