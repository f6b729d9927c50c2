// Log files, log.ini and redirection as a fresh process sees them at load time.
#include "test_support.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <regex>

namespace {

using kxtest::ProcessResult;

class LogFilesEnvTest : public testing::Test {
protected:
    ProcessResult run(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra = {},
        const std::string& program = LOG_HOST, std::vector<std::string> prefix = {})
    {
        auto env = kxtest::baseEnv(home.path());
        for (const auto& entry : extra) {
            env[entry.first] = entry.second;
        }
        prefix.insert(prefix.end(), args.begin(), args.end());
        auto result = kxtest::runProcess(program, prefix, env, work.path());
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return result;
    }

    // The files a host left in dir, checked to be named umd.<pid>.<second>[_n].log.
    std::vector<std::string> logFiles(const std::string& dir, const ProcessResult& result)
    {
        std::smatch pid;
        EXPECT_TRUE(std::regex_search(result.out, pid, std::regex("pid=(\\d+)"))) << result.out;
        std::regex name("umd\\." + pid[1].str() + "\\.\\d{10,}(_\\d+)?\\.log");
        auto files = kxtest::listDir(dir);
        for (const auto& file : files) {
            EXPECT_TRUE(std::regex_match(file, name)) << file;
        }
        return files;
    }

    std::string allText(const std::string& dir)
    {
        std::string text;
        for (const auto& file : kxtest::listDir(dir)) {
            text += kxtest::readFile(dir + "/" + file);
        }
        return text;
    }

    kxtest::TempDir home;
    kxtest::TempDir work;
    kxtest::TempDir etc;
};

TEST_F(LogFilesEnvTest, WithoutConfigurationLogsGoToHomeQvlogUmd)
{
    auto result = run({ "pid", "path", "reg", "A", "1", "log", "A", "2", "hidden", "log", "A", "4", "x" });
    std::string dir = home.path() + "/qvlog/umd";
    EXPECT_NE(result.out.find("path=" + dir + "/\n"), std::string::npos) << result.out;
    auto files = logFiles(dir, result);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(std::regex_match(kxtest::readFile(dir + "/" + files[0]),
        std::regex(R"(\[\d\d:\d\d:\d\d\.\d{3}\]\[A\]\[E\]x\n)")));
    EXPECT_EQ(result.err, "");
}

TEST_F(LogFilesEnvTest, LogIniIsFoundThroughEtcPathThenKoraPath)
{
    kxtest::TempDir root;
    mkdir((root.path() + "/etc").c_str(), 0755);
    kxtest::writeFile(root.path() + "/etc/log.ini", "[global]\nlog_dir = " + root.path() + "/from-kora-path\n");
    // KORA_ETC_PATH without log.ini falls through to KORA_PATH.
    auto result = run({ "path" }, { { "KORA_ETC_PATH", etc.path() }, { "KORA_PATH", root.path() } });
    EXPECT_EQ(result.out, "path=" + root.path() + "/from-kora-path/\n");

    kxtest::writeFile(etc.file("log.ini"), "[global]\nlog_dir = $HOME/from-etc\n");
    result = run({ "path" }, { { "KORA_ETC_PATH", etc.path() }, { "KORA_PATH", root.path() } });
    EXPECT_EQ(result.out, "path=" + home.path() + "/from-etc/\n");

    // Neither variable: no file is read.
    result = run({ "path" });
    EXPECT_EQ(result.out, "path=" + home.path() + "/qvlog/umd/\n");
}

TEST_F(LogFilesEnvTest, ModuleSectionSetsLevels)
{
    kxtest::writeFile(etc.file("log.ini"), "[module]\nQVS = info\ndefault = warning\n");
    auto result = run({ "reg", "A", "1", "level", "QVS", "level", "A" }, { { "KORA_ETC_PATH", etc.path() } });
    EXPECT_EQ(result.out, "level QVS=info\nlevel A=warning\n");
}

TEST_F(LogFilesEnvTest, SizeAndRotateFromLogIni)
{
    std::string dir = home.path() + "/logs";
    kxtest::writeFile(etc.file("log.ini"), "[global]\nlog_dir = " + dir + "\nfile_size = 1\nrotate = 3\n");
    std::vector<std::string> args = { "pid", "reg", "A", "1" };
    for (int i = 0; i < 100; ++i) {
        args.insert(args.end(), { "log", "A", "4", std::string(100, 'a' + i % 26) });
    }
    auto result = run(args, { { "KORA_ETC_PATH", etc.path() } });
    auto files = logFiles(dir, result);
    EXPECT_EQ(files.size(), 3u);
    for (const auto& file : files) {
        struct stat st;
        ASSERT_EQ(stat((dir + "/" + file).c_str(), &st), 0);
        EXPECT_LE(st.st_size, 1024);
    }
}

TEST_F(LogFilesEnvTest, BadNumbersInLogIniFallBackToDefaults)
{
    kxtest::writeFile(etc.file("log.ini"), "[global]\nfile_size = 4096k\nrotate = 9999999999\n");
    auto result = run({ "pid", "reg", "A", "1", "log", "A", "4", "still logging" }, { { "KORA_ETC_PATH", etc.path() } });
    auto lines = kxtest::splitLines(result.err);
    ASSERT_EQ(lines.size(), 2u) << result.err;
    EXPECT_EQ(lines[0].rfind("[LogService] file_size = \"4096k\"", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("[LogService] rotate = \"9999999999\"", 0), 0u) << lines[1];
    EXPECT_NE(allText(home.path() + "/qvlog/umd").find("[A][E]still logging"), std::string::npos);
}

TEST_F(LogFilesEnvTest, UncreatableDirectoryKeepsTheConsole)
{
    kxtest::writeFile(home.file("plain"), "");
    std::string dir = home.path() + "/plain/logs/";
    kxtest::writeFile(etc.file("log.ini"), "[global]\nlog_dir = " + dir + "\n");
    auto result = run({ "reg", "A", "1", "log", "A", "4", "on the console" }, { { "KORA_ETC_PATH", etc.path() } });
    EXPECT_EQ(result.err,
        "[LogService] File logging is disabled due to failure on creating directory \"" + dir + "\" \n");
    EXPECT_NE(result.out.find("[A][E]on the console"), std::string::npos);
}

TEST_F(LogFilesEnvTest, UnwritableDirectoryKeepsTheConsole)
{
    std::string dir = home.path() + "/readonly/";
    ASSERT_EQ(mkdir(dir.c_str(), 0555), 0);
    kxtest::writeFile(etc.file("log.ini"), "[global]\nlog_dir = " + dir + "\n");
    std::map<std::string, std::string> env = { { "KORA_ETC_PATH", etc.path() } };
    std::vector<std::string> args = { "reg", "A", "1", "log", "A", "4", "on the console" };
    ProcessResult result;
    if (geteuid() == 0) {
        // Root may write anywhere; the host runs as nobody instead.
        for (const auto* d : { &home, &work, &etc }) {
            chmod(d->path().c_str(), 0755);
        }
        chmod(etc.file("log.ini").c_str(), 0644);
        result = run(args, env, "/usr/bin/setpriv",
            { "--reuid=65534", "--regid=65534", "--clear-groups", LOG_HOST });
    } else {
        result = run(args, env);
    }
    EXPECT_EQ(result.err,
        "[LogService] File logging is disabled due to no permission to access directory \"" + dir + "\" \n");
    EXPECT_NE(result.out.find("[A][E]on the console"), std::string::npos);
}

TEST_F(LogFilesEnvTest, UpdateLogSettingMovesTheFile)
{
    std::string dir = home.path() + "/moved";
    auto result = run({ "pid", "path", "reg", "A", "1", "update", "log_dir=" + dir, "update", "rotate=x", "log", "A",
                          "4", "after the move", "path" });
    EXPECT_NE(result.out.find("update=true\n"), std::string::npos);
    EXPECT_NE(result.out.find("update=false;commad:rotate=x;reason:rotate must be a whole number from 0 to 200000\n"),
        std::string::npos)
        << result.out;
    // The path stays what it was when first asked for.
    std::string path = "path=" + home.path() + "/qvlog/umd/\n";
    EXPECT_NE(result.out.find(path), result.out.rfind(path)) << result.out;
    auto files = logFiles(dir, result);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(kxtest::readFile(dir + "/" + files[0]).find("[A][E]after the move"), std::string::npos);
}

TEST_F(LogFilesEnvTest, FlushLevelReachesEveryLoggerTheFirstIncluded)
{
    std::vector<std::string> args = { "get", "QVS", "reg", "A", "1", "log", "QVS", "3", "qvs warning", "log", "A", "3",
        "a warning", "exit" };
    std::string dir = home.path() + "/qvlog/umd";
    run(args, { { "QVLOG_LEVEL", "FLUSH_LEVEL=warning,A=info,QVS=info" } });
    std::string text = allText(dir);
    EXPECT_NE(text.find("[QVS][W]qvs warning"), std::string::npos) << text;
    EXPECT_NE(text.find("[A][W]a warning"), std::string::npos) << text;

    // Without it the file sink still holds the lines in its buffer at _exit.
    kxtest::TempDir otherHome;
    auto env = kxtest::baseEnv(otherHome.path());
    env["QVLOG_LEVEL"] = "A=info,QVS=info";
    auto result = kxtest::runProcess(LOG_HOST, args, env, work.path());
    EXPECT_EQ(result.exitCode, 0);
    text = allText(otherHome.path() + "/qvlog/umd");
    EXPECT_EQ(text.find("warning"), std::string::npos) << text;
}

TEST_F(LogFilesEnvTest, ConsoleOffLeavesOnlyTheFile)
{
    auto result = run({ "reg", "A", "1", "log", "A", "4", "file only", "startconsole", "log", "A", "4", "both" },
        { { "QVLOG_CONSOLE", "off" } });
    EXPECT_EQ(result.out.find("file only"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("[A][E]both"), std::string::npos) << result.out;
    std::string text = allText(home.path() + "/qvlog/umd");
    EXPECT_NE(text.find("file only"), std::string::npos);
    EXPECT_NE(text.find("both"), std::string::npos);
}

TEST_F(LogFilesEnvTest, RedirectionWritesBareLinesToBothStreamsUntilOneIsChosen)
{
    auto result = run({ "reg", "KFI", "0", "kfi", "KFI", "KFI_FILE", "tofile", "log", "KFI", "2", "to both",
        "log", "KFI", "0", "too low", "kficonsole", "KFI", "1", "log", "KFI", "2", "to stderr" });
    EXPECT_EQ(result.out, "tofile=0\nto both\n");
    EXPECT_EQ(result.err, "to both\nto stderr\n");

    result = run({ "reg", "KFI", "0", "kfi", "KFI", "KFI_FILE", "kficonsole", "KFI", "0", "log", "KFI", "2", "out" });
    EXPECT_EQ(result.out, "out\n");
    EXPECT_EQ(result.err, "");
}

TEST_F(LogFilesEnvTest, RedirectionToAFile)
{
    std::string file = work.file("kfi.txt");
    kxtest::writeFile(file, "earlier\n");
    auto result = run({ "reg", "KFI", "0", "kfi", "KFI", "KFI_FILE", "tofile", "log", "KFI", "2", "into the file",
                          "kficonsole", "KFI", "1", "log", "KFI", "2", "still the file" },
        { { "KFI_FILE", file } });
    EXPECT_EQ(result.out, "tofile=1\n");
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(kxtest::readFile(file), "earlier\ninto the file\nstill the file\n");
}

TEST_F(LogFilesEnvTest, RedirectionKeepsThePatternWithPrintfTimestamp)
{
    auto result = run({ "reg", "KFI", "0", "kfi", "KFI", "KFI_FILE", "kficonsole", "KFI", "0", "log", "KFI", "2", "x",
                          "reg", "B", "1", "kfi", "B", "KFI_FILE", "level", "B" },
        { { "KORA_PRINTF_TIMESTAMP", "1" } });
    auto lines = kxtest::splitLines(result.out);
    ASSERT_EQ(lines.size(), 2u) << result.out;
    EXPECT_TRUE(std::regex_match(lines[0], std::regex(R"(\[\d\d:\d\d:\d\d\.\d{3}\]\[KFI\]\[I\]x)"))) << lines[0];
    // A second logger only gets the level.
    EXPECT_EQ(lines[1], "level B=debug");
}

} // namespace
