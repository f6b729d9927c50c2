#include "snapper/json_read.h"

#include <kxdiag/snapper_cfg.h>

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <fstream>
#include <sstream>

namespace kxsnapper {

using cfgjson::qvsLogs;
using kxlog::kxLevel_enum;
using kxlog::api::kxLog;

namespace {

std::string envValue(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// A decoder is meant to swallow every fault of the document; this is the last line
// that keeps anything it missed inside the library.
bool decodeGuarded(JsonCfgTools& tools, const Json::Value& root)
{
    try {
        return tools.parseToCfg(root);
    } catch (const std::exception&) {
        return false;
    }
}

// jsoncpp reports most faults through the result but throws on some, such as nesting
// deeper than its stack limit; both count as a parse error.
bool parseStream(Json::CharReaderBuilder& builder, std::istream& in, Json::Value& root, std::string& errors)
{
    try {
        return Json::parseFromStream(builder, in, &root, &errors);
    } catch (const std::exception& e) {
        errors = e.what();
        return false;
    }
}

} // namespace

std::string JsonCfgTools::getCfgFile(const std::string& name)
{
    const std::string etc = envValue("KORA_ETC_PATH");
    if (!etc.empty()) {
        std::string path = etc + "/" + name;
        if (access(path.c_str(), F_OK) == 0) {
            return path;
        }
    }
    const std::string kora = envValue("KORA_PATH");
    if (!kora.empty()) {
        return kora + "/etc/" + name;
    }
    return "";
}

bool JsonCfgTools::checkPath(const std::string& path)
{
    return access(path.c_str(), R_OK) == 0;
}

bool JsonCfgTools::parseJsonFromPath(const std::string& path, Json::CharReaderBuilder& builder, Json::Value& root)
{
    if (path.empty() || !checkPath(path)) {
        return false;
    }
    std::ifstream in(path);
    if (!in) {
        return false;
    }
    std::string errors;
    if (!parseStream(builder, in, root, errors)) {
        if (qvsLogs(kxLevel_enum::INFO)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::INFO, "some mistakes when parse json file: %s\n", errors.c_str());
        }
        return false;
    }
    return true;
}

bool JsonCfgTools::parseJsonFromStr(const std::string& text, Json::CharReaderBuilder& builder, Json::Value& root)
{
    if (text.empty()) {
        return false;
    }
    std::istringstream in(text);
    std::string errors;
    if (!parseStream(builder, in, root, errors)) {
        if (qvsLogs(kxLevel_enum::INFO)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::INFO, "read json str erro:%s\n", errors.c_str());
        }
        return false;
    }
    return true;
}

bool JsonCfgTools::parseToCfgFromPath(Json::CharReaderBuilder& builder, const std::string& name)
{
    const std::string path = getCfgFile(name);
    if (path.empty() || !checkPath(path)) {
        if (qvsLogs(kxLevel_enum::INFO)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::INFO, "can not get cfg file:%s!\n", name.c_str());
        }
        return false;
    }
    Json::Value root;
    if (!parseJsonFromPath(path, builder, root)) {
        return false;
    }
    if (!decodeGuarded(*this, root)) {
        if (qvsLogs(kxLevel_enum::INFO)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::INFO, "transfer file:%s to config erro.\n", path.c_str());
        }
        return false;
    }
    return true;
}

bool JsonCfgTools::parseToCfgFromStr(Json::CharReaderBuilder& builder, const std::string& text)
{
    Json::Value root;
    if (!parseJsonFromStr(text, builder, root)) {
        return false;
    }
    if (!decodeGuarded(*this, root)) {
        if (qvsLogs(kxLevel_enum::INFO)) {
            kxLog(utils::g_snapperlog, kxLevel_enum::INFO, "decode json str erro.\n");
        }
        return false;
    }
    return true;
}

} // namespace kxsnapper
