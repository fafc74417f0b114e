#include "host/core/Log.h"
#include "host/core/LogCapture.h"

#include <gtest/gtest.h>

#include <thread>

using namespace Dravelin;

TEST(Log, ThresholdDecidesWhatIsAccepted)
{
    const int saved = Log::threshold();
    Log::setThreshold(3);
    EXPECT_FALSE(Log::isAccepted(2));
    EXPECT_TRUE(Log::isAccepted(3));
    EXPECT_TRUE(Log::isAccepted(4));
    {
        LogCapture capture;  // a sink wants everything
        EXPECT_TRUE(Log::isAccepted(0));
    }
    EXPECT_FALSE(Log::isAccepted(0));
    {
        // A sink from level 2 makes level 2 worth making, and takes nothing below it.
        LogCapture capture(2);
        EXPECT_FALSE(Log::isAccepted(1));
        EXPECT_TRUE(Log::isAccepted(2));
        Log::log(1, "", "below");
        Log::log(2, "", "at");
        ASSERT_EQ(capture.entries().size(), 1u);
        EXPECT_EQ(capture.entries().front().message, "at");
    }
    Log::setThreshold(saved);
}

TEST(Log, CaptureCollectsMessagesWithTheirOrigin)
{
    LogCapture capture;
    Log::log(1, "DICOM", std::string("first message"), "file.cpp", 12);
    Log::log(4, "", QString::fromUtf8("zweite Nachricht \xc3\xa4"));
    DRAVELIN_LOG(0, "Dicom", "third");
    const auto entries = capture.entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].level, 1);
    EXPECT_EQ(entries[0].channel, "DICOM");
    EXPECT_EQ(entries[0].file, "file.cpp");
    EXPECT_EQ(entries[0].line, 12);
    EXPECT_EQ(entries[1].message, "zweite Nachricht \xc3\xa4");
    EXPECT_NE(entries[2].file.find("LogTest.cpp"), std::string::npos);
    EXPECT_TRUE(capture.contains("third", 0));
    EXPECT_FALSE(capture.contains("third", 1));
    EXPECT_EQ(capture.count("message"), 1);
    capture.clear();
    EXPECT_TRUE(capture.entries().empty());
}

TEST(Log, CapturesFromManyThreads)
{
    LogCapture outer;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 250; ++i)
                Log::log(0, "test", "from thread " + std::to_string(t));
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(outer.count("from thread"), 1000);
}
