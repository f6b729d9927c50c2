// Demonstration host: registers two loggers and logs through both interfaces.
#include <kxdiag/kxdiag.h>
#include <kxdiag/log.h>

#include <cstdio>

int main()
{
    using kxlog::kxLevel_enum;
    auto driver = kxlog::api::registerLogger("umd", true);
    kxlog::api::setLevel("umd", "info");
    kxLoggerHandle runtime = registerLogger("runtime", 1);

    kxlog::api::kxLog(driver, kxLevel_enum::INFO, "device %d opened", 0);
    kxlog::api::kxLog(driver, kxLevel_enum::DEBUG, "not shown: umd logs from info up");
    if (shouldLog(static_cast<int>(kxLevel_enum::ERROR), runtime)) {
        kxLog(runtime, static_cast<int>(kxLevel_enum::ERROR), "kernel %s failed with status %d", "vecadd", -5);
    }
    kxLog(nullptr, static_cast<int>(kxLevel_enum::WARN), "the default logger is \"%s\"",
        kxlog::api::default_logger()->name().c_str());
    std::printf("logger levels: umd=%s runtime=%s\n", kxlog::api::getLogLevel("umd").c_str(),
        kxlog::api::getLogLevel("runtime").c_str());
    return 0;
}
