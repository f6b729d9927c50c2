#include <kxdiag/kxdiag.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>

namespace {

TEST(FlatLog, FailedRegistrationReturnsNullAndSaysWhy)
{
    ASSERT_NE(registerLogger("Twice", 0), nullptr);
    testing::internal::CaptureStderr();
    EXPECT_EQ(registerLogger("Twice", 0), nullptr);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "[LogService] registerLogger(\"Twice\") failed: logger with name 'Twice' already exists\n");
}

TEST(FlatLog, NullNamesRaiseLogicError)
{
    EXPECT_THROW(registerLogger(nullptr, 1), std::logic_error);
    EXPECT_THROW(unRegisterLogger(nullptr), std::logic_error);
}

TEST(FlatLog, DefaultSinkRegistrationIsFoundAgain)
{
    kxLoggerHandle first = registerLogger("Flat", 1);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(registerLogger("Flat", 1), first);
    unRegisterLogger("Flat");
    EXPECT_NE(registerLogger("Flat", 1), nullptr);
}

TEST(FlatLog, NullHandleMeansTheDefaultLogger)
{
    // "APP" starts at spdlog's default level, info.
    EXPECT_TRUE(shouldLog(2, nullptr));
    EXPECT_FALSE(shouldLog(1, nullptr));
}

TEST(FlatLog, BacktracesReturnsSymbolisedFrames)
{
    char** symbols = nullptr;
    int count = backtraces(&symbols, 4);
    ASSERT_GT(count, 0);
    EXPECT_LE(count, 4);
    ASSERT_NE(symbols, nullptr);
    for (int i = 0; i < count; ++i) {
        EXPECT_NE(symbols[i], nullptr);
    }
    std::free(symbols);
    EXPECT_EQ(backtraces(&symbols, 0), 0);
    EXPECT_EQ(symbols, nullptr);
}

} // namespace
