#include "snapper/zip_tools.h"

#include <kxdiag/snapper.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace kxsnapper {
namespace detail {
namespace {

thread_local HeldMessages* t_holder = nullptr;

void write(kxlog::kxLevel_enum level, const std::string& text)
{
    const auto& log = utils::g_snapperlog;
    if (log && log->shouldLog(level)) {
        kxlog::api::kxLog(log, level, "%s", text.c_str());
    }
}

} // namespace

void snapLog(kxlog::kxLevel_enum level, const char* format, ...)
{
    const auto& log = utils::g_snapperlog;
    if (!log || !log->shouldLog(level)) {
        return;
    }
    char buffer[2048];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    if (t_holder != nullptr) {
        t_holder->keep(level, buffer);
    } else {
        write(level, buffer);
    }
}

HeldMessages::HeldMessages()
{
    if (t_holder == nullptr) {
        t_holder = this;
        owner = true;
    }
}

HeldMessages::~HeldMessages()
{
    if (!owner) {
        return;
    }
    t_holder = nullptr;
    for (const auto& message : messages) {
        write(message.first, message.second);
    }
}

void HeldMessages::keep(kxlog::kxLevel_enum level, std::string text)
{
    messages.emplace_back(level, std::move(text));
}

} // namespace detail

using detail::snapLog;
using kxlog::kxLevel_enum;

std::string shellQuote(const std::string& text)
{
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += '\'';
    return quoted;
}

std::string shellGlob(const std::string& pattern)
{
    std::string glob;
    std::string::size_type from = 0;
    for (;;) {
        const auto star = pattern.find('*', from);
        const std::string literal = pattern.substr(from, star == std::string::npos ? std::string::npos : star - from);
        if (!literal.empty()) {
            glob += shellQuote(literal);
        }
        if (star == std::string::npos) {
            return glob;
        }
        glob += '*';
        from = star + 1;
    }
}

ZipTools::ZipTools()
    : hasZip(hasInstallZip()), pid(static_cast<int>(getpid())), logPrefix("umd." + std::to_string(pid)),
      logDir(kxlog::api::getKxlogPath())
{
}

bool ZipTools::hasInstallZip()
{
    if (std::system("command -v zip > /dev/null 2>&1") == 0) {
        return true;
    }
    return std::system("which zip > /dev/null 2>&1") == 0;
}

bool ZipTools::checkCondition()
{
    detail::HeldMessages held;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (!hasZip) {
        snapLog(kxLevel_enum::DEBUG, "cannot find zip in system, please install zip first.\n");
        return false;
    }
    std::call_once(dirOnce, [this] { dirOk = mkSnapperDir(logDir); });
    return dirOk;
}

bool ZipTools::mkSnapperDir(std::string dir)
{
    detail::HeldMessages held;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    zipDir = dir + "/../" + "snapshot";
    struct stat st;
    if (stat(zipDir.c_str(), &st) == 0) {
        if (access(zipDir.c_str(), W_OK) == 0) {
            return true;
        }
        snapLog(kxLevel_enum::INFO,
            "[ZipService] Snapshot is disabled due to failure on creating directory \"%s\" \n", zipDir.c_str());
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(zipDir, error);
    if (!error) {
        return true;
    }
    snapLog(kxLevel_enum::INFO,
        "[ZipService] Snapshot is disabled due to failure on creating parent directory \"%s\" (errcode:%d,errmsg:%s) \n",
        zipDir.c_str(), error.value(), error.message().c_str());
    return false;
}

bool ZipTools::doZipCmd(std::string cmd)
{
    errno = 0;
    const int status = std::system(cmd.c_str());
    const int error = errno;
    if (status == 0) {
        snapLog(kxLevel_enum::DEBUG, "zip cmd:%s\n", cmd.c_str());
        return true;
    }
    if (status == -1) {
        snapLog(kxLevel_enum::DEBUG, "can not execute:%s\n", cmd.c_str());
        return false;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 127) {
        snapLog(kxLevel_enum::DEBUG, "probably can not invoke shell.\n");
        return false;
    }
    if (error != 0 && error != ENOENT) {
        snapLog(kxLevel_enum::INFO, "excute %s with erro:%d, %d-%s.\n", cmd.c_str(), status, error,
            std::strerror(error));
    } else {
        snapLog(kxLevel_enum::DEBUG, "execut invalid cmd:[ %s ], because %d-%s.\n", cmd.c_str(), error,
            std::strerror(error));
    }
    return false;
}

bool ZipTools::zip(std::string options, std::string name, std::string files)
{
    detail::HeldMessages held;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (!checkCondition()) {
        return false;
    }
    return doZipCmd("zip " + options + " " + shellQuote(zipDir + "/" + name) + " " + files + " 1>/dev/null 2>/dev/null");
}

bool ZipTools::zip(std::vector<RuleDataType> kinds, int id, int64_t stamp)
{
    detail::HeldMessages held;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    if (!checkCondition()) {
        return false;
    }
    updateFiles(kinds);
    const std::string cmd = getZipCmd(kinds, getZipFileName(pid, id, stamp));
    return cmd.empty() ? true : doZipCmd(cmd);
}

std::string ZipTools::getZipFileName(int pid, int id, int64_t stamp)
{
    return "snapshot_" + std::to_string(pid) + "_" + std::to_string(id) + "_" + std::to_string(stamp);
}

std::string ZipTools::getZipCmd(const std::vector<RuleDataType>& kinds, const std::string& name)
{
    detail::HeldMessages held;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    std::string list;
    for (const RuleDataType kind : kinds) {
        const auto found = files.find(kind);
        if (found == files.end()) {
            continue;
        }
        for (const FileInfo& info : found->second) {
            list += " " + shellQuote(info.path);
        }
    }
    if (list.empty()) {
        return "";
    }
    return "zip -q -u -j " + shellQuote(zipDir + "/" + name) + " " + list + " 1>/dev/null 2>/dev/null";
}

void ZipTools::updateFiles(const std::vector<RuleDataType>& kinds)
{
    for (const RuleDataType kind : kinds) {
        getLasteFile(kind);
    }
}

void ZipTools::getLasteFile(RuleDataType kind)
{
    if (kind == DATA_LOG) {
        getLasteSnapperFile(logDir, DATA_LOG, logPrefix);
    }
}

void ZipTools::getLasteSnapperFile(const std::string& dir, RuleDataType kind, const std::string& prefix)
{
    detail::HeldMessages held;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    std::vector<FileInfo>& known = files[kind];
    std::vector<FileInfo> found;
    if (dir.empty()) {
        known = std::move(found);
        return;
    }
    std::error_code error;
    std::filesystem::directory_iterator entries(dir, error);
    for (; !error && entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        const std::string fileName = entries->path().filename().string();
        const auto dot = fileName.rfind('.');
        if (dot == std::string::npos || fileName.compare(0, prefix.size(), prefix) != 0 || dot < prefix.size()) {
            continue;
        }
        const std::string path = entries->path().string();
        struct stat st;
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            continue;
        }
        FileInfo info{ path, static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtime) };
        bool unchanged = false;
        for (const FileInfo& old : known) {
            if (old.path == info.path && old.size == info.size && old.mtime == info.mtime) {
                unchanged = true;
                break;
            }
        }
        if (!unchanged) {
            found.push_back(std::move(info));
        }
    }
    known = std::move(found);
}

void ZipTools::getLasteLog(const std::string& dir, RuleDataType kind)
{
    getLasteSnapperFile(dir, kind, logPrefix);
}

std::string ZipTools::getZipCmd(const std::string& packDir, const std::string& archiveDir, const std::string& name)
{
    const std::filesystem::path pack(packDir);
    return "cd " + shellQuote(pack.parent_path().string()) + "; zip -q " + shellQuote(archiveDir + "/" + name) +
        " -r " + shellQuote("./" + pack.filename().string()) + " 1>/dev/null 2>/dev/null";
}

bool ZipTools::removeDir(const std::string& path)
{
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        return false;
    }
    std::filesystem::remove_all(path, error);
    if (error) {
        snapLog(kxLevel_enum::DEBUG, "cannot remove path %s,reason:%d\n", path.c_str(), error.value());
        return false;
    }
    return true;
}

std::string ZipTools::getZipDir()
{
    detail::HeldMessages held;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    return zipDir;
}

void ZipTools::setLogDir(std::string dir)
{
    detail::HeldMessages held;
    std::lock_guard<std::recursive_mutex> lock(mutex);
    logDir = std::move(dir);
}

} // namespace kxsnapper
