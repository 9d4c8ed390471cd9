// The host stand-in where the library leans on it beyond what the decoder's own tests show:
// the shared lock, number texts under a host locale, the global observer and the leak count.
// Reference counting, notification stages and the enumerator registry are checked through
// the decoder.
#include "FloatRepresentation.h"
#include "FormatInfo.h"
#include "HostCallbackFunctions.h"
#include "MemLeakTracer.h"
#include "MessageSource.h"
#include "RecordingObserver.h"

#include <QtCore/QLocale>

#include <gtest/gtest.h>

#include <cstring>
#include <thread>

namespace {

TEST(HostCallbacks, LockExcludesOtherThreadsAndMayBeTakenAgainByItsHolder)
{
    const HostCallbackFunctions *table = getCallBackFunctions();
    long counter = 0;
    const auto work = [&] {
        for (int k = 0; k < 100000; ++k) {
            table->lock(table->lockArgument);
            table->lock(table->lockArgument);
            const long read = counter;
            counter = read + 1;
            table->unlock(table->lockArgument);
            table->unlock(table->lockArgument);
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 200000);
}

class FloatText : public ::testing::Test
{
protected:
    void TearDown() override { QLocale::setDefault(mSaved); }

private:
    QLocale mSaved;
};

// Raw values are data (JSON, raw lines): a host's locale must not reach them.
TEST_F(FloatText, RawTextIgnoresTheLocaleWhichOnlyTheInterpretedTextFollows)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FloatRepresentation::getString(1234.5, 'f', 3, false), QStringLiteral("1234.500"));
    EXPECT_EQ(FloatRepresentation::getString(1234.5, 'f', 3, true), QStringLiteral("1.234,500"));
}

class Notifications : public ::testing::Test
{
protected:
    void TearDown() override { HostObserver::setGlobal(nullptr); }

    const FormatInfo mFormat{QStringLiteral("RTCM3")};
};

TEST_F(Notifications, OwnObserverWinsOverTheGlobalOneWhichServesTheRestWhileItLives)
{
    RecordingObserver own;
    MessageSource withOwn;
    MessageSource withoutOwn;
    withOwn.setObserver(&own);
    {
        RecordingObserver global;
        HostObserver::setGlobal(&global);
        withOwn.newUnknownMessage(&mFormat, QStringLiteral("Message type 999"));
        withoutOwn.newUnknownMessage(&mFormat, QStringLiteral("Message type 998"));
        EXPECT_EQ(own.unknownMessages(), QList<QString>{QStringLiteral("Message type 999")});
        EXPECT_EQ(global.unknownMessages(), QList<QString>{QStringLiteral("Message type 998")});
        withOwn.setObserver(nullptr);
        withOwn.newUnknownMessage(&mFormat, QStringLiteral("Message type 997"));
        EXPECT_EQ(global.unknownMessages().size(), 2);
    }
    EXPECT_EQ(HostObserver::global(), nullptr);
    withoutOwn.newUnknownMessage(&mFormat, QStringLiteral("Message type 996"));   // reaches nobody
}

TEST(LeakTracer, CountsANameWhereverItsTextLivesAndShowsADoubleRelease)
{
    MemLeakTracer *tracer = MemLeakTracer::getInstance();
    const qint64 before = tracer->totalLive();
    char copy[] = "TracerTestA";   // the same name at another address, as from another library
    tracer->doAllocateObject(copy);
    tracer->doAllocateObject("TracerTestA");
    std::strcpy(copy, "TracerTestB");   // the text behind a pointer may change; the count stays
    EXPECT_EQ(tracer->liveCount("TracerTestA"), 2);
    EXPECT_EQ(tracer->liveCount("TracerTestB"), 0);
    for (int k = 0; k < 3; ++k)
        tracer->doDeallocateObject("TracerTestA");
    EXPECT_EQ(tracer->liveCount("TracerTestA"), -1);
    EXPECT_TRUE(tracer->report().contains(QStringLiteral("TracerTestA: -1")));
    tracer->doAllocateObject("TracerTestA");
    EXPECT_EQ(tracer->totalLive(), before);
    EXPECT_FALSE(tracer->report().contains(QStringLiteral("TracerTestA")));
}

} // namespace
