#pragma once

#include <kxdiag/snapper.h>

#include "qvs_capture.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace kxtest {

// The snapshot logger's messages, each ended by a record separator.
class QvsMessages : public QvsCapture {
public:
    explicit QvsMessages(spdlog::level::level_enum level = spdlog::level::debug)
        : QvsCapture(level, "%v\x1e")
    {
    }
};

// What a show() call writes to standard output.
template <typename Fn>
std::string stdoutOf(Fn&& fn)
{
    testing::internal::CaptureStdout();
    fn();
    return testing::internal::GetCapturedStdout();
}

} // namespace kxtest
