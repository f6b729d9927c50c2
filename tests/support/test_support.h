#pragma once

#include <map>
#include <string>
#include <vector>

namespace kxtest {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return dir; }
    std::string file(const std::string& name) const { return dir + "/" + name; }

private:
    std::string dir;
};

struct ProcessResult {
    int exitCode = -1;   // -1 when the process did not exit normally
    int signal = 0;      // the signal that ended it, 0 otherwise
    bool timedOut = false;
    std::string out;
    std::string err;
};

// Runs program with exactly the given environment (nothing inherited) in cwd;
// kills it after timeoutSeconds.
ProcessResult runProcess(const std::string& program, const std::vector<std::string>& args,
    const std::map<std::string, std::string>& env, const std::string& cwd, int timeoutSeconds = 60);

// The environment a host starts with: PATH, a private HOME and no KORA_* or QVLOG_* variables.
std::map<std::string, std::string> baseEnv(const std::string& home);

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& content);
// Names in a directory (not "." and ".."), sorted; empty when it cannot be read.
std::vector<std::string> listDir(const std::string& path);
std::vector<std::string> splitLines(const std::string& text);

} // namespace kxtest
