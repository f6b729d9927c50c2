// A host process for load-time behaviour: runs the logging operations named
// on its command line, in order.
#include <kxdiag/kxdiag.h>
#include <kxdiag/log.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include <unistd.h>

namespace {

using kxlog::api::kxlogger;

std::map<std::string, std::shared_ptr<kxlogger>> loggers;

int usage(const char* op)
{
    std::fprintf(stderr, "log_host: bad operation '%s'\n", op);
    return 2;
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        std::string op = argv[i];
        auto arg = [&](int n) -> const char* { return i + n < argc ? argv[i + n] : ""; };
        if (op == "reg") {  // reg NAME DEFAULT_SINKS
            loggers[arg(1)] = kxlog::api::registerLogger(arg(1), std::atoi(arg(2)) != 0);
            i += 2;
        } else if (op == "log") {  // log NAME LEVEL TEXT
            kxlog::api::kxLog(loggers[arg(1)], static_cast<kxlog::kxLevel_enum>(std::atoi(arg(2))), "%s", arg(3));
            i += 3;
        } else if (op == "flat") {  // flat LEVEL TEXT, on the default logger
            ::kxLog(nullptr, std::atoi(arg(1)), "%s", arg(2));
            i += 2;
        } else if (op == "mask") {
            std::printf("mask=%x\n", kxlog::g_logMask);
        } else if (op == "level") {  // level NAME
            std::printf("level %s=%s\n", arg(1), kxlog::api::getLogLevel(arg(1)).c_str());
            i += 1;
        } else if (op == "get") {  // get NAME: an already registered logger
            loggers[arg(1)] = kxlog::api::getLogger(arg(1));
            i += 1;
        } else if (op == "pid") {
            std::printf("pid=%d\n", static_cast<int>(getpid()));
        } else if (op == "path") {
            std::printf("path=%s\n", kxlog::api::getKxlogPath().c_str());
        } else if (op == "update") {  // update COMMAND
            std::printf("update=%s\n", kxlog::api::updateLogSetting(arg(1)).c_str());
            i += 1;
        } else if (op == "startconsole") {
            kxlog::api::startConsoleSink();
        } else if (op == "kfi") {  // kfi NAME PATH_VARIABLE
            kxlog::kfi::initKfiSinks(loggers[arg(1)], arg(2));
            i += 2;
        } else if (op == "kficonsole") {  // kficonsole NAME TO_STDERR
            kxlog::kfi::configConsole(loggers[arg(1)], std::atoi(arg(2)) != 0);
            i += 2;
        } else if (op == "tofile") {
            std::printf("tofile=%d\n", kxlog::kfi::isLogToFile() ? 1 : 0);
        } else if (op == "exit") {  // leaves without flushing anything
            std::fflush(stdout);
            _exit(0);
        } else {
            return usage(op.c_str());
        }
    }
    std::fflush(stdout);
    return 0;
}
