#pragma once
// A fixture for tests that build host objects (decoders, synchronizers, messages): every
// object announced to the allocation tracer during the test must be gone again at its end.

#include "MemLeakTracer.h"
#include "RTCM3_FormatInfo.h"

#include <gtest/gtest.h>

class LiveHostObjects : public ::testing::Test
{
protected:
    void SetUp() override
    {
        // The descriptions live for the whole process: build them before counting.
        RTCM3_FormatInfo::getInstance();
        mLiveBefore = MemLeakTracer::getInstance()->totalLive();
    }
    void TearDown() override
    {
        EXPECT_EQ(MemLeakTracer::getInstance()->totalLive(), mLiveBefore)
            << MemLeakTracer::getInstance()->report().toStdString();
    }

    static int live(const char *className) { return MemLeakTracer::getInstance()->liveCount(className); }

private:
    qint64 mLiveBefore = 0;
};
