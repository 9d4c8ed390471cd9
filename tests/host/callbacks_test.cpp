#include "HostCallbackFunctions.h"

#include <QtCore/QString>
#include <QtCore/QtDebug>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

TEST(HostCallbacks, TableOffersEveryService)
{
    const HostCallbackFunctions *table = getCallBackFunctions();
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table, getCallBackFunctions());
    EXPECT_NE(table->lockArgument, nullptr);
    EXPECT_NE(table->lock, nullptr);
    EXPECT_NE(table->unlock, nullptr);
    EXPECT_NE(table->currentTime, nullptr);
    EXPECT_NE(table->logStreamOpened, nullptr);
    EXPECT_NE(table->reportError, nullptr);
    EXPECT_NE(table->getEnvironment, nullptr);
    EXPECT_NE(table->abortHook, nullptr);
}

TEST(HostCallbacks, LockExcludesOtherThreads)
{
    const HostCallbackFunctions *table = getCallBackFunctions();
    long counter = 0;
    const auto work = [&] {
        for (int k = 0; k < 100000; ++k) {
            table->lock(table->lockArgument);
            const long read = counter;
            counter = read + 1;
            table->unlock(table->lockArgument);
        }
    };
    std::thread other(work);
    work();
    other.join();
    EXPECT_EQ(counter, 200000);
}

TEST(HostCallbacks, LockMayBeTakenAgainByItsHolder)
{
    const HostCallbackFunctions *table = getCallBackFunctions();
    table->lock(table->lockArgument);
    table->lock(table->lockArgument);
    table->unlock(table->lockArgument);
    table->unlock(table->lockArgument);
    bool taken = false;
    std::thread other([&] {
        table->lock(table->lockArgument);
        taken = true;
        table->unlock(table->lockArgument);
    });
    other.join();
    EXPECT_TRUE(taken);
}

TEST(HostCallbacks, EnvironmentLookupSeesTheProcessEnvironment)
{
    const HostCallbackFunctions *table = getCallBackFunctions();
    ::setenv("NUVRIX_HOST_TEST_VARIABLE", "value 1", 1);
    EXPECT_STREQ(table->getEnvironment("NUVRIX_HOST_TEST_VARIABLE"), "value 1");
    ::unsetenv("NUVRIX_HOST_TEST_VARIABLE");
    EXPECT_EQ(table->getEnvironment("NUVRIX_HOST_TEST_VARIABLE"), nullptr);
    EXPECT_EQ(table->getEnvironment(nullptr), nullptr);
}

TEST(HostCallbacks, AnnouncedLogStreamIsRemembered)
{
    const HostCallbackFunctions *table = getCallBackFunctions();
    FILE *const before = getAnnouncedLogStream();
    table->logStreamOpened(stderr);
    EXPECT_EQ(getAnnouncedLogStream(), stderr);
    table->logStreamOpened(before);
}

QString lastWarning;

void keepWarning(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtWarningMsg)
        lastWarning = text;
}

TEST(HostCallbacks, ErrorReportReachesTheHostLogWithItsLevel)
{
    const QtMessageHandler previous = qInstallMessageHandler(keepWarning);
    getCallBackFunctions()->reportError("dbg_Terminate failed could not close file.", 1);
    qInstallMessageHandler(previous);
    EXPECT_TRUE(lastWarning.contains(QStringLiteral("dbg_Terminate failed could not close file.")));
    EXPECT_TRUE(lastWarning.contains(QStringLiteral("level 1")));
}

} // namespace
