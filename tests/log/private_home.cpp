// Gives an in-process test a fresh HOME and none of the logging variables
// before the library's static initialisers run: the snapshot logger registers
// while the program loads and would otherwise create its log directory under
// the real home directory.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string& privateHome()
{
    static std::string path;
    return path;
}

void removeTree(const std::string& path)
{
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) {
        return;
    }
    if (S_ISDIR(st.st_mode)) {
        chmod(path.c_str(), 0700);
        if (DIR* dir = opendir(path.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    removeTree(path + "/" + name);
                }
            }
            closedir(dir);
        }
        rmdir(path.c_str());
    } else {
        unlink(path.c_str());
    }
}

void removePrivateHome()
{
    if (!privateHome().empty()) {
        removeTree(privateHome());
    }
}

__attribute__((constructor(101))) void usePrivateHome()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kxdiag-home-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("kxdiag tests: mkdtemp");
        std::abort();
    }
    privateHome() = pattern;
    setenv("HOME", pattern.c_str(), 1);
    for (const char* name : { "KORA_ETC_PATH", "KORA_PATH", "QVLOG_LEVEL", "QVLOG_PATTERN", "QVLOG_MASK",
             "QVLOG_CONSOLE", "KORA_PRINTF_TIMESTAMP" }) {
        unsetenv(name);
    }
    std::atexit(removePrivateHome);
}

} // namespace
