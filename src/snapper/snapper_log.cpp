#include <kxdiag/snapper.h>

#include <cstdio>
#include <exception>

namespace kxsnapper {
namespace utils {
namespace {

std::shared_ptr<kxlog::api::kxlogger> registerSnapperLogger()
{
    // Runs while the library is being loaded: a throw here would kill the host.
    try {
        return kxlog::api::registerLogger("QVS", true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "[LogService] cannot register the logger QVS: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "[LogService] cannot register the logger QVS\n");
    }
    return nullptr;
}

} // namespace

std::string g_lastLogLevel = "off";
std::string g_snappshotLogName = "QVS";
std::shared_ptr<kxlog::api::kxlogger> g_snapperlog = registerSnapperLogger();

void closeLog()
{
    g_lastLogLevel = kxlog::api::getLogLevel("QVS");
    kxlog::api::setLevel("QVS", "off");
}

void reopenLog()
{
    kxlog::api::setLevel("QVS", g_lastLogLevel);
}

} // namespace utils
} // namespace kxsnapper
