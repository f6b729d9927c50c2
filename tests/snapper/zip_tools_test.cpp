#include "snapper/zip_tools.h"

#include "cfg_capture.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace kxsnapper;
using kxtest::TempDir;

// Blank, quote and ";" in one directory name; unquoted, the shell would run
// "touch pwned" in the working directory.
const std::string kOddName = "o dd'x;touch pwned;y";

std::vector<std::string> members(const std::string& archive)
{
    std::vector<std::string> names;
    FILE* pipe = popen(("unzip -Z1 " + shellQuote(archive) + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) {
        return names;
    }
    char line[4096];
    while (std::fgets(line, sizeof(line), pipe) != nullptr) {
        std::string name = line;
        name.erase(name.find_last_not_of("\r\n") + 1);
        names.push_back(name);
    }
    pclose(pipe);
    std::sort(names.begin(), names.end());
    return names;
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string pid()
{
    return std::to_string(getpid());
}

TEST(ZipTools, ShellQuotingKeepsOnlyTheWildcardsActive)
{
    EXPECT_EQ(shellQuote("a b"), "'a b'");
    EXPECT_EQ(shellQuote("it's;x"), "'it'\\''s;x'");
    EXPECT_EQ(shellGlob("/d 1/umd.7.*.log"), "'/d 1/umd.7.'*'.log'");
    EXPECT_EQ(shellGlob("*x*"), "*'x'*");
    EXPECT_EQ(ZipTools::getZipFileName(4242, 2, 1700), "snapshot_4242_2_1700");
    EXPECT_EQ(ZipTools::getZipCmd("/a b/pack", "/z", "n.zip"),
        "cd '/a b'; zip -q '/z/n.zip' -r './pack' 1>/dev/null 2>/dev/null");
}

// The log kind: the archive beside an odd log directory takes this process's log
// files, then only the ones that are new or changed.
TEST(ZipTools, LogScanArchivesNewAndChangedFilesOnly)
{
    TempDir base;
    ASSERT_EQ(chdir(base.path().c_str()), 0);
    const std::string parent = base.file(kOddName);
    const std::string logDir = parent + "/log";
    ASSERT_EQ(mkdir(parent.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(logDir.c_str(), 0700), 0);
    const std::string mine1 = "umd." + pid() + ".100.log";
    const std::string mine2 = "umd." + pid() + ".200.log";
    kxtest::writeFile(logDir + "/" + mine1, "one\n");
    kxtest::writeFile(logDir + "/" + mine2, "two\n");
    kxtest::writeFile(logDir + "/umd.1.100.log", "other process\n");
    kxtest::writeFile(logDir + "/umd" + pid(), "no extension\n");
    ASSERT_EQ(mkdir((logDir + "/umd." + pid() + ".dir.d").c_str(), 0700), 0);

    kxtest::QvsMessages qvs;
    ZipTools tool;
    tool.setLogDir(logDir);
    ASSERT_TRUE(tool.zip({ DATA_LOG }, 2, 1700));
    EXPECT_EQ(tool.getZipDir(), logDir + "/../snapshot");
    const std::string snapshot = parent + "/snapshot";
    const std::string first = snapshot + "/" + ZipTools::getZipFileName(getpid(), 2, 1700) + ".zip";
    EXPECT_EQ(members(first), (std::vector<std::string>{ mine1, mine2 })) << qvs.text();

    kxtest::writeFile(logDir + "/" + mine2, "two grew\n");
    const std::string second = snapshot + "/" + ZipTools::getZipFileName(getpid(), 2, 1701) + ".zip";
    EXPECT_TRUE(tool.zip({ DATA_LOG }, 2, 1701));
    EXPECT_EQ(members(second), (std::vector<std::string>{ mine2 }));

    // The scan before found mine1 unchanged and dropped it, so it is offered again;
    // mine2 was taken at that scan and has not changed since.
    const std::string third = snapshot + "/" + ZipTools::getZipFileName(getpid(), 2, 1702) + ".zip";
    EXPECT_TRUE(tool.zip({ DATA_LOG }, 2, 1702));
    EXPECT_EQ(members(third), (std::vector<std::string>{ mine1 }));

    // Kinds without a scan add nothing.
    EXPECT_TRUE(tool.zip({ DATA_HOTSPOT, DATA_TRAP }, 3, 1));
    EXPECT_EQ(kxtest::listDir(snapshot).size(), 3u);
    EXPECT_FALSE(exists(base.file("pwned")));
}

TEST(ZipTools, PatternsOfAnOddToolDirectoryAreExpandedByTheShell)
{
    TempDir base;
    ASSERT_EQ(chdir(base.path().c_str()), 0);
    const std::string logDir = base.file("log");
    const std::string toolDir = base.file(kOddName);
    ASSERT_EQ(mkdir(logDir.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(toolDir.c_str(), 0700), 0);
    kxtest::writeFile(toolDir + "/trapInfo." + pid() + ".1.log", "a");
    kxtest::writeFile(toolDir + "/trapInfo." + pid() + ".2_1.log", "b");
    kxtest::writeFile(toolDir + "/trapInfo.1.2.log", "other process");

    kxtest::QvsMessages qvs;
    ZipTools tool;
    tool.setLogDir(logDir);
    const std::string files = shellGlob(toolDir + "/trapInfo." + pid() + ".*.log");
    ASSERT_TRUE(tool.zip("-q -u -j", "snapshot_1.2.3.zip", files));
    EXPECT_TRUE(qvs.has("zip cmd:zip -q -u -j '" + logDir + "/../snapshot/snapshot_1.2.3.zip' " + files +
        " 1>/dev/null 2>/dev/null"))
        << qvs.text();
    EXPECT_EQ(members(base.file("snapshot/snapshot_1.2.3.zip")),
        (std::vector<std::string>{ "trapInfo." + pid() + ".1.log", "trapInfo." + pid() + ".2_1.log" }));
    EXPECT_FALSE(exists(base.file("pwned")));
}

TEST(ZipTools, WithoutZipNothingIsArchivedAndNoDirectoryMade)
{
    TempDir base;
    const std::string empty = base.file("bin");
    ASSERT_EQ(mkdir(empty.c_str(), 0700), 0);
    const std::string logDir = base.file("log");
    ASSERT_EQ(mkdir(logDir.c_str(), 0700), 0);
    setenv("PATH", empty.c_str(), 1);

    kxtest::QvsMessages qvs;
    ZipTools tool;
    tool.setLogDir(logDir);
    EXPECT_FALSE(tool.zip("-q -u -j", "a.zip", "x"));
    EXPECT_FALSE(tool.zip({ DATA_LOG }, 2, 1));
    EXPECT_TRUE(qvs.has("cannot find zip in system, please install zip first.\n"));
    EXPECT_FALSE(exists(base.file("snapshot")));
}

// The snapshot directory cannot be made (a file stands where a directory must be):
// archives stay off for the process, the attempt is not repeated.
TEST(ZipTools, UnusableSnapshotDirectoryDisablesArchives)
{
    TempDir base;
    kxtest::writeFile(base.file("file"), "a file in the way");
    const std::string logDir = base.file("file") + "/log";

    kxtest::QvsMessages qvs;
    ZipTools tool;
    tool.setLogDir(logDir);
    EXPECT_FALSE(tool.zip("-q -u -j", "a.zip", "x"));
    EXPECT_TRUE(qvs.has("[ZipService] Snapshot is disabled due to failure on creating parent directory \"" + logDir +
        "/../snapshot\" (errcode:")) << qvs.text();
    std::remove(base.file("file").c_str());
    ASSERT_EQ(mkdir(base.file("file").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(logDir.c_str(), 0700), 0);
    EXPECT_FALSE(tool.zip({ DATA_LOG }, 2, 1));
    EXPECT_FALSE(exists(base.file("file/snapshot")));
}

TEST(ZipTools, CommandStatusesAreReported)
{
    kxtest::QvsMessages qvs;
    ZipTools tool;
    EXPECT_TRUE(tool.doZipCmd("true"));
    EXPECT_TRUE(qvs.has("zip cmd:true\n"));
    EXPECT_FALSE(tool.doZipCmd("exit 127"));
    EXPECT_TRUE(qvs.has("probably can not invoke shell.\n"));
    EXPECT_FALSE(tool.doZipCmd("exit 3"));
    EXPECT_TRUE(qvs.has("execut invalid cmd:[ exit 3 ]") || qvs.has("excute exit 3 with erro:768")) << qvs.text();
}

TEST(ZipTools, MissingDirectoriesScanAsEmptyAndRemoveDirReports)
{
    TempDir base;
    ZipTools tool;
    tool.getLasteSnapperFile(base.file("missing"), DATA_LOG, "umd.");
    EXPECT_EQ(tool.getZipCmd({ DATA_LOG }, "n"), "");
    tool.getLasteSnapperFile("", DATA_LOG, "umd.");
    EXPECT_EQ(tool.getZipCmd({ DATA_LOG }, "n"), "");

    const std::string tree = base.file("tree");
    ASSERT_EQ(mkdir(tree.c_str(), 0700), 0);
    kxtest::writeFile(tree + "/f", "x");
    EXPECT_TRUE(ZipTools::removeDir(tree));
    EXPECT_FALSE(exists(tree));
    EXPECT_FALSE(ZipTools::removeDir(tree));
}

} // namespace
