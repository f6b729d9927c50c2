#pragma once

#include <kxdiag/snapper.h>

#include "log/kxlogger_impl.h"
#include "log/level_names.h"

#include "qvs_capture.h"
#include "test_support.h"

#include <spdlog/sinks/ostream_sink.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace kxtest {

// Points tools.json and HOME at temporary directories before the snapper file
// manager exists, so the CPU hotspot and memory tracing files land in $HOME/out.
class HotspotFiles {
public:
    HotspotFiles()
    {
        writeFile(etc.file("tools.json"), R"({
            "kxHotspot": {
                "cpuHotSpot": { "log": { "logDir": "$HOME/out", "fileSize": 4096, "rotate": 2, "save": true } },
                "memoryTracing": { "log": { "logDir": "$HOME/out", "fileSize": 4096, "rotate": 2, "save": true } }
            }
        })");
        setenv("KORA_ETC_PATH", etc.path().c_str(), 1);
        setenv("HOME", home.path().c_str(), 1);
    }

    // The lines written so far into the file family whose name starts with stem.
    std::vector<std::string> lines(const std::string& stem, kxsnapper::SNAPPER_FILE_TYPE type) const
    {
        kxsnapper::flush(type);
        const std::string out = home.path() + "/out/";
        std::string text;
        for (const auto& name : listDir(out)) {
            if (name.compare(0, stem.size() + 1, stem + ".") == 0) {
                text += readFile(out + name);
            }
        }
        return splitLines(text);
    }

    std::vector<std::string> cpuLines() const { return lines("CpuHotSpot", kxsnapper::CPU_HOTSPOT); }
    std::string memText() const
    {
        std::string text;
        for (const auto& line : lines("memTracing", kxsnapper::MEM_TRACING)) {
            text += line + "\n";
        }
        return text;
    }

private:
    TempDir etc;
    TempDir home;
};

} // namespace kxtest
