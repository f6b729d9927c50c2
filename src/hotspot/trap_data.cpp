#include "hotspot/trap_data.h"

#include <kxdiag/kxdiag.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>
#include <random>

namespace {

// Names are random, so a taken one is simply drawn again; the bound keeps a
// directory full of planted names from stalling the save.
constexpr int maxNameAttempts = 64;

uint32_t drawRandomNumber()
{
    std::random_device device("default");
    std::mt19937 generator(device());
    std::uniform_int_distribution<uint32_t> distribution(1, 1000000);
    return distribution(generator);
}

void appendU64(std::string& out, uint64_t value)
{
    out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

bool writeAll(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        ssize_t written = ::write(fd, data.data() + done, data.size() - done);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

} // namespace

HotspotTrapData& HotspotTrapData::getInstance()
{
    static HotspotTrapData instance;
    return instance;
}

HotspotTrapData::~HotspotTrapData()
{
    // Waiters leave with the current (possibly empty) name before the members go.
    std::unique_lock<std::mutex> lock(fileMutex);
    fileReady = true;
    fileReadyCv.notify_all();
    waitersGoneCv.wait(lock, [this] { return fileWaiters == 0; });
}

void HotspotTrapData::addTrapData(const TrapData& record)
{
    std::lock_guard<std::mutex> lock(itemsMutex);
    items.push_back(record);
}

bool HotspotTrapData::generateFilename(std::string& out, std::string dir, std::string prefix, std::string suffix)
{
    return generateFilename(out, dir, prefix, suffix, drawRandomNumber);
}

bool HotspotTrapData::generateFilename(std::string& out, const std::string& dir, const std::string& prefix,
    const std::string& suffix, const std::function<uint32_t()>& draw)
{
    if (DIR* handle = ::opendir(dir.c_str())) {
        ::closedir(handle);
    } else if (::mkdir(dir.c_str(), 0755) != 0) {
        std::printf("Failed to create %s directory.\n", dir.c_str());
        return false;
    }
    out = dir + prefix + std::to_string(draw()) + suffix;
    return true;
}

std::string HotspotTrapData::serializeItems()
{
    std::lock_guard<std::mutex> lock(itemsMutex);
    std::string data;
    appendU64(data, items.size());
    for (const TrapData& record : items) {
        for (const std::string* field :
            {&record.field1, &record.field2, &record.field3, &record.field4, &record.field5, &record.field6}) {
            appendU64(data, field->size());
            data += *field;
        }
    }
    return data;
}

bool HotspotTrapData::saveTrapDataToFile()
{
    return saveTrapDataToFile(trapDir, drawRandomNumber);
}

bool HotspotTrapData::saveTrapDataToFile(const std::string& dir, const std::function<uint32_t()>& draw)
{
    std::string name;
    int fd = -1;
    for (int attempt = 0; attempt < maxNameAttempts && fd < 0; ++attempt) {
        if (!generateFilename(name, dir, "trapData", ".bin", draw)) {
            return false;
        }
        // Never reuse or follow what is already there: the directory is
        // shared, and a planted link would redirect the write.
        fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST && errno != ELOOP) {
            return false;
        }
    }
    if (fd < 0) {
        return false;
    }
    bool written = writeAll(fd, serializeItems());
    if (::close(fd) != 0) {
        written = false;
    }
    if (!written) {
        ::unlink(name.c_str());
        return false;
    }
    std::lock_guard<std::mutex> lock(fileMutex);
    fileName = name;
    fileReady = true;
    fileReadyCv.notify_all();
    return true;
}

std::string HotspotTrapData::getTrapDataFile()
{
    std::unique_lock<std::mutex> lock(fileMutex);
    ++fileWaiters;
    fileReadyCv.wait(lock, [this] { return fileReady; });
    std::string name = fileName;
    if (--fileWaiters == 0) {
        waitersGoneCv.notify_all();
    }
    return name;
}

void HotspotTrapData::setTrapProcessStatus(bool done)
{
    std::lock_guard<std::mutex> lock(statusMutex);
    processDone = done;
    if (done) {
        statusCv.notify_all();
    }
}

bool HotspotTrapData::waitTrapProcessFinish()
{
    std::unique_lock<std::mutex> lock(statusMutex);
    statusCv.wait(lock, [this] { return processDone; });
    return true;
}

extern "C" {

void kxHotspotAddTrapData(const void* record)
{
    if (!record) {
        return;
    }
    try {
        HotspotTrapData::getInstance().addTrapData(*static_cast<const HotspotTrapData::TrapData*>(record));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kxHotspotAddTrapData: record dropped: %s\n", e.what());
    }
}

void kxHotspotSaveTrapData(void)
{
    try {
        HotspotTrapData::getInstance().saveTrapDataToFile();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kxHotspotSaveTrapData: save abandoned: %s\n", e.what());
    }
}

void kxHotspotGetTrapDataFile(void* fileName)
{
    if (!fileName) {
        return;
    }
    try {
        *static_cast<std::string*>(fileName) = HotspotTrapData::getInstance().getTrapDataFile();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kxHotspotGetTrapDataFile: %s\n", e.what());
    }
}

void kxHotspotSetTrapProcessStatus(bool done)
{
    HotspotTrapData::getInstance().setTrapProcessStatus(done);
}

bool kxHotspotWaitTrapProcessFinish(void)
{
    return HotspotTrapData::getInstance().waitTrapProcessFinish();
}

} // extern "C"
