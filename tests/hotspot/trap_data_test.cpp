#include <kxdiag/kxdiag.h>

#include "hotspot/trap_data.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <regex>
#include <thread>
#include <vector>

namespace {

using Record = HotspotTrapData::TrapData;

// Removes the trap files a case made.
class TrapData : public testing::Test {
protected:
    void TearDown() override
    {
        for (const std::string& name : created) {
            ::unlink(name.c_str());
        }
    }

    std::string saveAndGetName()
    {
        kxHotspotSaveTrapData();
        std::string name;
        kxHotspotGetTrapDataFile(&name);
        created.push_back(name);
        return name;
    }

    std::vector<std::string> created;
};

uint64_t readU64(const std::string& data, size_t& offset)
{
    uint64_t value = 0;
    EXPECT_LE(offset + sizeof value, data.size());
    if (offset + sizeof value <= data.size()) {
        std::memcpy(&value, data.data() + offset, sizeof value);
    }
    offset += sizeof value;
    return value;
}

std::vector<Record> parseTrapFile(const std::string& data)
{
    size_t offset = 0;
    uint64_t count = readU64(data, offset);
    std::vector<Record> records;
    for (uint64_t i = 0; i < count && offset <= data.size(); ++i) {
        Record record;
        for (std::string* field :
            {&record.field1, &record.field2, &record.field3, &record.field4, &record.field5, &record.field6}) {
            uint64_t length = readU64(data, offset);
            if (offset + length > data.size()) {
                ADD_FAILURE() << "string runs past the end of the file";
                return records;
            }
            field->assign(data, offset, length);
            offset += length;
        }
        records.push_back(record);
    }
    EXPECT_EQ(offset, data.size()) << "trailing bytes";
    return records;
}

bool sameRecord(const Record& a, const Record& b)
{
    return a.field1 == b.field1 && a.field2 == b.field2 && a.field3 == b.field3 && a.field4 == b.field4
        && a.field5 == b.field5 && a.field6 == b.field6;
}

TEST_F(TrapData, TwoRecordsAreWrittenWithLengthsAndBytes)
{
    const Record first{"pc=0x10", "kernel_a", "", "sq", "wave 3", "ctx"};
    const Record second{"", "", "", "", "", "\x01\x02 binary\n"};
    kxHotspotAddTrapData(&first);
    kxHotspotAddTrapData(&second);
    kxHotspotAddTrapData(nullptr);

    std::string name = saveAndGetName();
    std::smatch match;
    ASSERT_TRUE(std::regex_match(name, match, std::regex("/tmp/kxHotspot/trapData([0-9]+)\\.bin"))) << name;
    long number = std::stol(match[1]);
    EXPECT_GE(number, 1);
    EXPECT_LE(number, 1000000);

    struct stat info {};
    ASSERT_EQ(::lstat(name.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    std::string data = kxtest::readFile(name);
    size_t stringBytes = 7 + 8 + 0 + 2 + 6 + 3 + 10;
    EXPECT_EQ(data.size(), 8 + 2 * (6 * 8) + stringBytes);
    std::vector<Record> records = parseTrapFile(data);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(sameRecord(records[0], first));
    EXPECT_TRUE(sameRecord(records[1], second));
}

TEST_F(TrapData, SaveWithoutRecordsHoldsCountZero)
{
    std::string data = kxtest::readFile(saveAndGetName());
    EXPECT_EQ(data, std::string(8, '\0'));
}

TEST_F(TrapData, EverySaveHoldsAllRecordsInANewFile)
{
    const Record first{"1", "2", "3", "4", "5", "6"};
    const Record second{"a", "b", "c", "d", "e", "f"};
    kxHotspotAddTrapData(&first);
    std::string firstName = saveAndGetName();
    kxHotspotAddTrapData(&second);
    std::string secondName = saveAndGetName();

    EXPECT_NE(firstName, secondName);
    EXPECT_EQ(parseTrapFile(kxtest::readFile(firstName)).size(), 1u);
    std::vector<Record> records = parseTrapFile(kxtest::readFile(secondName));
    ASSERT_EQ(records.size(), 2u);
    EXPECT_TRUE(sameRecord(records[0], first));
    EXPECT_TRUE(sameRecord(records[1], second));

    std::string latest;
    kxHotspotGetTrapDataFile(&latest);
    EXPECT_EQ(latest, secondName);
}

TEST_F(TrapData, GetFileWaitsForASaveInAnotherThread)
{
    std::atomic<bool> returned{false};
    std::string waited;
    std::thread waiter([&] {
        kxHotspotGetTrapDataFile(&waited);
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(returned.load());

    kxHotspotSaveTrapData();
    waiter.join();
    created.push_back(waited);
    EXPECT_TRUE(returned.load());
    EXPECT_EQ(::access(waited.c_str(), R_OK), 0) << waited;
}

TEST_F(TrapData, ProcessStatusHandshake)
{
    kxHotspotSetTrapProcessStatus(true);
    EXPECT_TRUE(kxHotspotWaitTrapProcessFinish());

    kxHotspotSetTrapProcessStatus(false);
    std::atomic<int> finished{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.emplace_back([&] {
            EXPECT_TRUE(kxHotspotWaitTrapProcessFinish());
            ++finished;
        });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kxHotspotSetTrapProcessStatus(false);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(finished.load(), 0);

    kxHotspotSetTrapProcessStatus(true);
    for (std::thread& waiter : waiters) {
        waiter.join();
    }
    EXPECT_EQ(finished.load(), 2);
}

TEST_F(TrapData, RecordsFromSeveralThreadsAreAllKept)
{
    constexpr int threads = 4;
    constexpr int perThread = 500;
    std::vector<std::thread> adders;
    for (int t = 0; t < threads; ++t) {
        adders.emplace_back([t] {
            for (int i = 0; i < perThread; ++i) {
                Record record{std::to_string(t), std::to_string(i), "", "", "", ""};
                kxHotspotAddTrapData(&record);
            }
        });
    }
    for (std::thread& adder : adders) {
        adder.join();
    }
    EXPECT_EQ(parseTrapFile(kxtest::readFile(saveAndGetName())).size(), size_t{threads * perThread});
}

// Numbers handed out in order, the last one repeated.
std::function<uint32_t()> numbers(std::vector<uint32_t> sequence)
{
    auto next = std::make_shared<size_t>(0);
    return [sequence, next] {
        uint32_t value = sequence[std::min(*next, sequence.size() - 1)];
        ++*next;
        return value;
    };
}

TEST_F(TrapData, TakenNamesAreNeverFollowedOrOverwritten)
{
    kxtest::TempDir dir;
    const std::string victim = dir.file("victim");
    kxtest::writeFile(victim, "keep me");
    ASSERT_EQ(::symlink(victim.c_str(), dir.file("trapData7.bin").c_str()), 0);
    kxtest::writeFile(dir.file("trapData8.bin"), "older file");
    const Record record{"x", "", "", "", "", ""};
    HotspotTrapData& trap = HotspotTrapData::getInstance();
    trap.addTrapData(record);

    ASSERT_TRUE(trap.saveTrapDataToFile(dir.path() + "/", numbers({7, 8, 9})));
    EXPECT_EQ(kxtest::readFile(victim), "keep me");
    EXPECT_EQ(kxtest::readFile(dir.file("trapData8.bin")), "older file");
    struct stat info {};
    ASSERT_EQ(::lstat(dir.file("trapData7.bin").c_str(), &info), 0);
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    EXPECT_EQ(trap.getTrapDataFile(), dir.file("trapData9.bin"));
    EXPECT_EQ(parseTrapFile(kxtest::readFile(dir.file("trapData9.bin"))).size(), 1u);
}

TEST_F(TrapData, FailedSavesKeepTheLastName)
{
    kxtest::TempDir dir;
    HotspotTrapData& trap = HotspotTrapData::getInstance();
    ASSERT_TRUE(trap.saveTrapDataToFile(dir.path() + "/", numbers({1})));
    const std::string saved = dir.file("trapData1.bin");

    // Every drawn name is taken.
    EXPECT_FALSE(trap.saveTrapDataToFile(dir.path() + "/", numbers({1})));

    testing::internal::CaptureStdout();
    const std::string missing = dir.path() + "/no/such/";
    EXPECT_FALSE(trap.saveTrapDataToFile(missing, numbers({2})));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Failed to create " + missing + " directory.\n");

    EXPECT_EQ(trap.getTrapDataFile(), saved);
    EXPECT_EQ(kxtest::listDir(dir.path()), std::vector<std::string>{"trapData1.bin"});
}

TEST_F(TrapData, GenerateFilenameCreatesOneLevel)
{
    kxtest::TempDir dir;
    HotspotTrapData& trap = HotspotTrapData::getInstance();
    std::string name = "unchanged";
    const std::string sub = dir.path() + "/sub/";
    ASSERT_TRUE(trap.generateFilename(name, sub, "p", ".s"));
    EXPECT_TRUE(std::regex_match(name, std::regex(sub + "p[0-9]+\\.s"))) << name;
    struct stat info {};
    ASSERT_EQ(::stat(sub.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));

    name = "unchanged";
    testing::internal::CaptureStdout();
    EXPECT_FALSE(trap.generateFilename(name, dir.path() + "/a/b/", "p", ".s"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(name, "unchanged");
}

} // namespace
