#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

// Device-trap records and the two handshakes around them: a party waiting for
// the file the records were saved into, and a party waiting for the end of
// trap processing.
class HotspotTrapData {
public:
    struct TrapData {
        std::string field1;
        std::string field2;
        std::string field3;
        std::string field4;
        std::string field5;
        std::string field6;
    };

    // Where trap files go in production.
    static constexpr const char* trapDir = "/tmp/kxHotspot/";

    static HotspotTrapData& getInstance();

    HotspotTrapData(const HotspotTrapData&) = delete;
    HotspotTrapData& operator=(const HotspotTrapData&) = delete;

    void addTrapData(const TrapData& record);
    // Writes every record added so far into a new file under trapDir; false
    // when no file could be created or written (the last saved name stays).
    bool saveTrapDataToFile();
    // Like saveTrapDataToFile, with the directory and the number source chosen
    // by the caller.
    bool saveTrapDataToFile(const std::string& dir, const std::function<uint32_t()>& draw);
    // dir + prefix + a random number from 1 to 1000000 + suffix; creates dir
    // (one level) when missing and returns false when that fails.
    bool generateFilename(std::string& out, std::string dir, std::string prefix, std::string suffix);

    // Blocks until a file was saved, then gives its name.
    std::string getTrapDataFile();
    void setTrapProcessStatus(bool done);
    bool waitTrapProcessFinish();

private:
    HotspotTrapData() = default;
    ~HotspotTrapData();

    bool generateFilename(std::string& out, const std::string& dir, const std::string& prefix,
        const std::string& suffix, const std::function<uint32_t()>& draw);
    std::string serializeItems();

    std::mutex fileMutex;
    bool fileReady = false;
    std::string fileName;
    std::mutex itemsMutex;
    std::vector<TrapData> items;
    std::condition_variable fileReadyCv;
    // Threads inside getTrapDataFile; destruction waits until they have left.
    int fileWaiters = 0;
    std::condition_variable waitersGoneCv;
    std::mutex statusMutex;
    bool processDone = false;
    std::condition_variable statusCv;
};
