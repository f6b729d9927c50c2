#ifndef KXDIAG_SNAPPER_ZIP_TOOLS_H
#define KXDIAG_SNAPPER_ZIP_TOOLS_H

#include <kxdiag/export.h>
#include <kxdiag/log.h>
#include <kxdiag/snapper_cfg.h>

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kxsnapper {
namespace detail {

// Writes a printf-style message to "QVS", or keeps it for later while a
// HeldMessages is alive on this thread.
void snapLog(kxlog::kxLevel_enum level, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Holds back the messages of this thread until it goes out of scope. Archive
// requests take their locks after creating one, so no message is written while
// a lock is held: a log filter on "QVS" reports rules under the sink's mutex,
// and writing to that sink under our lock would invert the lock order.
// Nested holders leave the messages to the outermost one.
class HeldMessages {
public:
    HeldMessages();
    ~HeldMessages();
    HeldMessages(const HeldMessages&) = delete;
    HeldMessages& operator=(const HeldMessages&) = delete;

    void keep(kxlog::kxLevel_enum level, std::string text);

private:
    bool owner = false;
    std::vector<std::pair<kxlog::kxLevel_enum, std::string>> messages;
};

} // namespace detail

// The text as one shell word: in single quotes, embedded single quotes escaped.
std::string shellQuote(const std::string& text);
// A glob for the shell: every '*' of pattern stays a wildcard, everything else is quoted.
std::string shellGlob(const std::string& pattern);

// Packs files into zip archives in the "snapshot" directory beside the log
// directory by running the system's zip through the shell. Remembers the files of
// each data kind found at its last scan, so the next archive of that kind takes
// only new or changed files. Safe to call from several threads: archive
// requests run one at a time.
class KXDIAG_API ZipTools {
public:
    struct FileInfo {
        std::string path;
        int64_t size = 0;
        int64_t mtime = 0;
    };

    ZipTools();
    ZipTools(const ZipTools&) = delete;
    ZipTools& operator=(const ZipTools&) = delete;

    static bool hasInstallZip();
    bool checkCondition();
    bool mkSnapperDir(std::string dir);
    bool doZipCmd(std::string cmd);
    // files: shell patterns, handed to the shell as they are.
    bool zip(std::string options, std::string name, std::string files);
    bool zip(std::vector<RuleDataType> kinds, int id, int64_t stamp);
    static std::string getZipFileName(int pid, int id, int64_t stamp);
    std::string getZipCmd(const std::vector<RuleDataType>& kinds, const std::string& name);
    void updateFiles(const std::vector<RuleDataType>& kinds);
    void getLasteFile(RuleDataType kind);
    // A directory that cannot be listed counts as empty.
    void getLasteSnapperFile(const std::string& dir, RuleDataType kind, const std::string& prefix);
    void getLasteLog(const std::string& dir, RuleDataType kind);
    static std::string getZipCmd(const std::string& packDir, const std::string& archiveDir, const std::string& name);
    static bool removeDir(const std::string& path);

    // The snapshot directory as set by the first archive request; empty before.
    std::string getZipDir();
    // Where archives go: "snapshot" beside this directory. Set before the first
    // archive request; getKxlogPath() by default.
    void setLogDir(std::string dir);

private:
    std::once_flag dirOnce;
    std::map<RuleDataType, std::vector<FileInfo>> files;
    std::string zipDir;
    bool hasZip;
    bool dirOk = false;
    int pid;
    std::string logPrefix;
    std::string logDir;
    std::recursive_mutex mutex;
};

} // namespace kxsnapper

#endif
