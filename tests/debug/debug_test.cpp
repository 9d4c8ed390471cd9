#include "dbg.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

const char *const kVariables[] = {
    "KVT_MODULES", "KVT_SUBMODULES", "KVT_STARTTIME", "KVT_STOPTIME", "KVT_TRACELEVEL",
    "KVT_TRACEINFO", "KVT_LOGFILE", "ZOLMARK_NO_FILE_LOGGING_IMPLEMENTED", "NUVRIX_TEST_LOGFILE",
};

// A host whose services record how the runtime uses them.
struct FakeHost
{
    std::map<std::string, std::string> environment;
    std::uint64_t time = 0;
    std::vector<FILE *> announced;
    std::vector<std::pair<std::string, int>> errors;
    std::vector<void *> locks;
    std::vector<void *> unlocks;
};

FakeHost *fakeHost = nullptr;
int lockArgument = 0;

const HostCallbackFunctions fakeTable = {
    &lockArgument,
    [](void *argument) { fakeHost->locks.push_back(argument); },
    [](void *argument) { fakeHost->unlocks.push_back(argument); },
    [] { return fakeHost->time; },
    [](FILE *stream) { fakeHost->announced.push_back(stream); },
    [](const char *text, int level) { fakeHost->errors.emplace_back(text, level); },
    [](const char *name) -> const char * {
        const auto found = fakeHost->environment.find(name);
        return found == fakeHost->environment.end() ? nullptr : found->second.c_str();
    },
    nullptr,
};

// Every test starts from a runtime brought down to zero, with a clean
// environment, and leaves it as the library's load left it.
class DebugRuntime : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *name : kVariables) {
            const char *value = std::getenv(name);
            mSaved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
            ::unsetenv(name);
        }
        terminateAll();
        fakeHost = &mHost;
        dbg_SetCallbackFunctions(nullptr);
        dbg_ClearTime();
        ASSERT_TRUE(mDir.isValid());
    }

    void TearDown() override
    {
        terminateAll();
        for (const auto &[name, value] : mSaved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        dbg_SetCallbackFunctions(getCallBackFunctions());
        dbg_ClearTime();
        dbg_Init("ZOLMARK_NO_FILE_LOGGING_IMPLEMENTED", 0, 0, 3072);
        fakeHost = nullptr;
    }

    static void terminateAll()
    {
        while (dbg_GetUseCount() > 0)
            dbg_Terminate();
    }

    static void setVariable(const char *name, const char *value)
    {
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }

    QString path(const char *file) const { return mDir.filePath(QString::fromLatin1(file)); }

    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    FakeHost mHost;
    QTemporaryDir mDir;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> mSaved;
};

TEST(DebugRuntimeAtLoad, LibraryLoadInitialisedTheRuntimeOnceWithTheHostTable)
{
    EXPECT_TRUE(dbg_IsInitialised());
    EXPECT_EQ(dbg_GetUseCount(), 1);
    EXPECT_EQ(dbg_GetCallbackFunctions(), getCallBackFunctions());
    EXPECT_EQ(dbg_GetBufferSize(), 3072u);
    EXPECT_EQ(dbg_GetOutputParameter1(), 0);
    EXPECT_EQ(dbg_GetOutputParameter2(), 0);
    if (!std::getenv("ZOLMARK_NO_FILE_LOGGING_IMPLEMENTED")) {
        EXPECT_EQ(dbg_GetLogStream(), stdout);
    }
    EXPECT_EQ(getAnnouncedLogStream(), dbg_GetLogStream());
}

struct MaskCase
{
    const char *text; // null: variable unset
    unsigned int mask;
};

class TraceLevelFromEnvironment : public DebugRuntime, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(TraceLevelFromEnvironment, GivesTheMaskOfItsRules)
{
    setVariable("KVT_TRACELEVEL", GetParam().text);
    ASSERT_EQ(dbg_Init(nullptr, 0, 0, 0), DBG_ERR_NONE);
    EXPECT_EQ(dbg_GetTraceLevelMask(), GetParam().mask);
}

INSTANTIATE_TEST_SUITE_P(Texts, TraceLevelFromEnvironment, ::testing::Values(
    MaskCase{nullptr, 1}, MaskCase{"", 1}, MaskCase{"12", 25}, MaskCase{"2", 17},
    MaskCase{"1", 9}, MaskCase{"0", 5}, MaskCase{"0FUNC", 7}, MaskCase{"FUNC", 3},
    MaskCase{"func", 1}, MaskCase{"none", 0}, MaskCase{"none 12 FUNC", 0},
    MaskCase{"none all", 255}, MaskCase{"all", 255}, MaskCase{"ALL", 1}));

class TraceInfoFromEnvironment : public DebugRuntime, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(TraceInfoFromEnvironment, GivesTheSumOfItsKeywords)
{
    setVariable("KVT_TRACEINFO", GetParam().text);
    ASSERT_EQ(dbg_Init(nullptr, 0, 0, 0), DBG_ERR_NONE);
    EXPECT_EQ(dbg_GetTraceInfoMask(), GetParam().mask);
}

INSTANTIATE_TEST_SUITE_P(Texts, TraceInfoFromEnvironment, ::testing::Values(
    MaskCase{nullptr, 106}, MaskCase{"", 0}, MaskCase{"LINE TIME", 160}, MaskCase{"all", 511},
    MaskCase{"MODULE", 1}, MaskCase{"SUBMOD", 2}, MaskCase{"SUBMODULE", 3},
    MaskCase{"FUNC,FILE", 24}, MaskCase{"LEVEL THREAD", 320}, MaskCase{"line time", 0},
    MaskCase{"MODULE SUBMOD FUNC FILE LINE LEVEL TIME THREAD", 507},
    MaskCase{"TIME all", 511}));

struct TimeCase
{
    const char *start;
    const char *stop;
    dbg_time_t startTime;
    dbg_time_t stopTime;
};

class TimesFromEnvironment : public DebugRuntime, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(TimesFromEnvironment, AreSecondsTurnedIntoMilliseconds)
{
    setVariable("KVT_STARTTIME", GetParam().start);
    setVariable("KVT_STOPTIME", GetParam().stop);
    ASSERT_EQ(dbg_Init(nullptr, 0, 0, 0), DBG_ERR_NONE);
    EXPECT_EQ(dbg_GetStartTime(), GetParam().startTime);
    EXPECT_EQ(dbg_GetStopTime(), GetParam().stopTime);
}

INSTANTIATE_TEST_SUITE_P(Texts, TimesFromEnvironment, ::testing::Values(
    TimeCase{nullptr, nullptr, 0, DBG_TIME_UNLIMITED},
    TimeCase{"12", "30", 12000, 30000},
    TimeCase{"abc", "0", 0, 0},
    // The largest number of seconds that still fits, and the first that does not.
    TimeCase{"-5", "18446744073709552", 0, DBG_TIME_UNLIMITED},
    TimeCase{"99999999999999999999", "18446744073709551", DBG_TIME_UNLIMITED,
             dbg_time_t(18446744073709551u) * 1000}));

struct FilterCase
{
    const char *modules;
    const char *submodules;
    const char *module;
    const char *submodule;
    int active;
};

class SubModuleFilter : public DebugRuntime, public ::testing::WithParamInterface<FilterCase> {};

TEST_P(SubModuleFilter, DecidesWhetherTracingIsActive)
{
    const FilterCase &c = GetParam();
    setVariable("KVT_MODULES", c.modules);
    setVariable("KVT_SUBMODULES", c.submodules);
    EXPECT_EQ(dbg_SubModActive(c.module, c.submodule), -1);
    ASSERT_EQ(dbg_Init(nullptr, 0, 0, 0), DBG_ERR_NONE);
    EXPECT_EQ(dbg_SubModActive(c.module, c.submodule), c.active);
    dbg_Terminate();
    EXPECT_EQ(dbg_SubModActive(c.module, c.submodule), -1);
}

INSTANTIATE_TEST_SUITE_P(Filters, SubModuleFilter, ::testing::Values(
    FilterCase{nullptr, nullptr, "codec", "crc", 1},
    FilterCase{"none", nullptr, "codec", "crc", 0},
    FilterCase{"none", "all", "codec", "crc", 0},
    FilterCase{"all", nullptr, "codec", "crc", 1},
    FilterCase{"decoder codec", nullptr, "codec", "crc", 1},
    FilterCase{"decoder", nullptr, "codec", "crc", 0},
    FilterCase{"decoder", "all", nullptr, "crc", 0},
    FilterCase{"codec", "none", "codec", "crc", 0},
    FilterCase{"codec", "all", "codec", "crc", 1},
    FilterCase{"codec", "frame crc", "codec", "crc", 1},
    FilterCase{"codec", "frame", "codec", "crc", 0},
    FilterCase{"codec", "frame", "codec", nullptr, 0},
    FilterCase{nullptr, "crc", "anything", "crc", 1}));

TEST_F(DebugRuntime, SecondInitOnlyRaisesTheUseCountAndOpensNoFile)
{
    dbg_SetCallbackFunctions(&fakeTable);
    mHost.environment = {{"KVT_TRACELEVEL", "all"}, {"KVT_TRACEINFO", "LINE"},
                         {"KVT_LOGFILE", path("first.log").toStdString()}};
    ASSERT_EQ(dbg_Init(nullptr, 1, 2, 100), DBG_ERR_NONE);
    FILE *const stream = dbg_GetLogStream();
    mHost.environment = {{"KVT_TRACELEVEL", "none"}, {"KVT_TRACEINFO", "all"},
                         {"KVT_STARTTIME", "5"}, {"KVT_LOGFILE", path("second.log").toStdString()}};
    ASSERT_EQ(dbg_Init(nullptr, 1, 2, 100), DBG_ERR_NONE);
    EXPECT_EQ(dbg_GetUseCount(), 2);
    EXPECT_EQ(dbg_GetTraceLevelMask(), 255u);
    EXPECT_EQ(dbg_GetTraceInfoMask(), 32u);
    EXPECT_EQ(dbg_GetStartTime(), 0u);
    EXPECT_EQ(dbg_GetLogStream(), stream);
    EXPECT_EQ(mHost.announced, std::vector<FILE *>{stream});
    EXPECT_FALSE(QFile::exists(path("second.log")));
}

TEST_F(DebugRuntime, OnlyTheLastTerminateClosesTheLogAndClearsTheFlag)
{
    setVariable("KVT_LOGFILE", path("trace.log").toLocal8Bit().constData());
    dbg_Init(nullptr, 0, 0, 0);
    dbg_Init(nullptr, 0, 0, 0);
    EXPECT_EQ(dbg_Terminate(), DBG_ERR_NONE);
    EXPECT_TRUE(dbg_IsInitialised());
    ASSERT_NE(dbg_GetLogStream(), nullptr);
    EXPECT_GE(std::fputs("still open\n", dbg_GetLogStream()), 0);
    EXPECT_EQ(dbg_Terminate(), DBG_ERR_NONE);
    EXPECT_FALSE(dbg_IsInitialised());
    EXPECT_EQ(dbg_GetUseCount(), 0);
    EXPECT_EQ(dbg_GetLogStream(), nullptr);
    EXPECT_EQ(readFile(path("trace.log")), QByteArray("still open\n"));
    EXPECT_EQ(dbg_Terminate(), DBG_ERR_NONE);
    EXPECT_EQ(dbg_GetUseCount(), 0);
}

TEST_F(DebugRuntime, LogFileIsOpenedForAppendingAndAnnounced)
{
    dbg_SetCallbackFunctions(&fakeTable);
    const QString file = path("append.log");
    QFile existing(file);
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old\n");
    existing.close();
    mHost.environment = {{"NUVRIX_TEST_LOGFILE", file.toStdString()}};
    ASSERT_EQ(dbg_Init("NUVRIX_TEST_LOGFILE", 0, 0, 0), DBG_ERR_NONE);
    FILE *const stream = dbg_GetLogStream();
    ASSERT_NE(stream, stdout);
    EXPECT_EQ(mHost.announced, std::vector<FILE *>{stream});
    std::fputs("new\n", stream);
    dbg_Terminate();
    EXPECT_EQ(readFile(file), QByteArray("old\nnew\n"));
}

TEST_F(DebugRuntime, WithoutAVariableNameTheLogFileComesFromKvtLogfile)
{
    setVariable("KVT_LOGFILE", path("default.log").toLocal8Bit().constData());
    setVariable("NUVRIX_TEST_LOGFILE", path("other.log").toLocal8Bit().constData());
    dbg_Init(nullptr, 0, 0, 0);
    EXPECT_NE(dbg_GetLogStream(), stdout);
    EXPECT_TRUE(QFile::exists(path("default.log")));
    EXPECT_FALSE(QFile::exists(path("other.log")));
}

TEST_F(DebugRuntime, UnopenableOrUnsetLogFileFallsBackToStandardOutput)
{
    dbg_SetCallbackFunctions(&fakeTable);
    for (const char *value : {"/nonexistent-directory/trace.log", "", static_cast<const char *>(nullptr)}) {
        mHost.announced.clear();
        mHost.environment.clear();
        if (value)
            mHost.environment["KVT_LOGFILE"] = value;
        ASSERT_EQ(dbg_Init(nullptr, 0, 0, 0), DBG_ERR_NONE);
        EXPECT_EQ(dbg_GetLogStream(), stdout) << (value ? value : "(unset)");
        EXPECT_EQ(mHost.announced, std::vector<FILE *>{stdout});
        EXPECT_EQ(dbg_Terminate(), DBG_ERR_NONE);
    }
    EXPECT_NE(std::fputs("", stdout), EOF);
}

TEST_F(DebugRuntime, FailedCloseIsReportedToTheHost)
{
    dbg_SetCallbackFunctions(&fakeTable);
    mHost.environment = {{"KVT_LOGFILE", path("broken.log").toStdString()}};
    dbg_Init(nullptr, 0, 0, 0);
    FILE *const stream = dbg_GetLogStream();
    ASSERT_NE(stream, stdout);
    std::fputs("pending", stream);
    ::close(::fileno(stream)); // pulls the file from under the stream
    EXPECT_EQ(dbg_Terminate(), DBG_ERR_CLOSE_FILE);
    ASSERT_EQ(mHost.errors.size(), 1u);
    EXPECT_EQ(mHost.errors[0].first, "dbg_Terminate failed could not close file.");
    EXPECT_EQ(mHost.errors[0].second, DBG_LEVEL_ERROR);
}

TEST_F(DebugRuntime, HostEnvironmentLookupWinsOverTheProcessEnvironment)
{
    setVariable("KVT_TRACELEVEL", "all");
    setVariable("KVT_TRACEINFO", "all");
    EXPECT_STREQ(dbg_getenv("KVT_TRACELEVEL"), "all");
    dbg_SetCallbackFunctions(&fakeTable);
    mHost.environment = {{"KVT_TRACELEVEL", "none"}};
    EXPECT_STREQ(dbg_getenv("KVT_TRACELEVEL"), "none");
    EXPECT_EQ(dbg_getenv("KVT_TRACEINFO"), nullptr);
    dbg_Init(nullptr, 0, 0, 0);
    EXPECT_EQ(dbg_GetTraceLevelMask(), 0u);
    EXPECT_EQ(dbg_GetTraceInfoMask(), 106u);
}

TEST_F(DebugRuntime, TableWithoutServicesFallsBackToTheProcess)
{
    const HostCallbackFunctions empty = {};
    dbg_SetCallbackFunctions(&empty);
    setVariable("KVT_TRACELEVEL", "2");
    EXPECT_STREQ(dbg_getenv("KVT_TRACELEVEL"), "2");
    EXPECT_EQ(dbg_getenv(nullptr), nullptr);
    dbg_Init(nullptr, 0, 0, 0);
    EXPECT_EQ(dbg_GetTraceLevelMask(), 17u);
    EXPECT_EQ(dbg_GetLogStream(), stdout);
    EXPECT_EQ(dbg_GetTime(), 0u);
    dbg_Lock();
    dbg_Unlock();
    dbg_Terminate();
    dbg_SetCallbackFunctions(nullptr);
}

TEST_F(DebugRuntime, LockAndUnlockPassTheTablesArgument)
{
    dbg_SetCallbackFunctions(&fakeTable);
    dbg_Lock();
    dbg_Unlock();
    EXPECT_EQ(mHost.locks, std::vector<void *>{&lockArgument});
    EXPECT_EQ(mHost.unlocks, std::vector<void *>{&lockArgument});
}

TEST_F(DebugRuntime, TimeSetExplicitlyWinsOverTheHostClock)
{
    EXPECT_EQ(dbg_GetTime(), 0u);
    dbg_SetCallbackFunctions(&fakeTable);
    mHost.time = 4242;
    EXPECT_EQ(dbg_GetTime(), 4242u);
    dbg_SetTime(7);
    EXPECT_EQ(dbg_GetTime(), 7u);
    dbg_SetTime(0);
    EXPECT_EQ(dbg_GetTime(), 0u);
    dbg_ClearTime();
    EXPECT_EQ(dbg_GetTime(), 4242u);
}

TEST_F(DebugRuntime, TimeIsActiveBetweenStartAndStopBothIncluded)
{
    setVariable("KVT_STARTTIME", "10");
    setVariable("KVT_STOPTIME", "20");
    dbg_Init(nullptr, 0, 0, 0);
    const std::pair<dbg_time_t, int> cases[] = {
        {0, 0}, {9999, 0}, {10000, 1}, {15000, 1}, {20000, 1}, {20001, 0}, {DBG_TIME_UNLIMITED, 0}};
    for (const auto &[time, active] : cases) {
        dbg_SetTime(time);
        EXPECT_EQ(dbg_TimeActive(), active) << time;
    }
}

TEST_F(DebugRuntime, WithoutTimeLimitsEveryTimeIsActive)
{
    dbg_Init(nullptr, 0, 0, 0);
    for (const dbg_time_t time : {dbg_time_t(0), dbg_time_t(123456), DBG_TIME_UNLIMITED}) {
        dbg_SetTime(time);
        EXPECT_EQ(dbg_TimeActive(), 1) << time;
    }
}

TEST(DebugErrorTexts, EveryCodeHasItsTextAndOthersAreUnknown)
{
    const std::pair<int, const char *> cases[] = {
        {DBG_ERR_NONE, " success."},
        {DBG_ERR_UNKNOWN_TYPE, " unknown type."},
        {DBG_ERR_OPEN_FILE, " could not open file."},
        {DBG_ERR_NULLPOINTER, " illegal nullpointer passed as argument."},
        {DBG_ERR_NOT_IMPLEMENTED, " functionality not yet implemented."},
        {DBG_ERR_MUTEX_INIT, " Mutex init failed."},
        {DBG_ERR_CLOSE_FILE, " could not close file."},
        {7, "Unknown Error"},
        {-1, "Unknown Error"},
    };
    for (const auto &[code, text] : cases)
        EXPECT_STREQ(dbg_GetErrorText(code), text) << code;
}

TEST(DebugMaskParsing, MissingDestinationIsANullPointerError)
{
    EXPECT_EQ(dbg_TraceLevelFromText("all", nullptr), DBG_ERR_NULLPOINTER);
    EXPECT_EQ(dbg_TraceInfoFromText("all", nullptr), DBG_ERR_NULLPOINTER);
}

TEST(DebugInitFailureDeathTest, ReportsTheReasonThenLetsTheHostFlushAndExitsWithOne)
{
    static const HostCallbackFunctions withHook = {
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        [] { std::fputs("|host flushed", stderr); },
    };
    EXPECT_EXIT(
        {
            ::dup2(STDERR_FILENO, STDOUT_FILENO);
            dbg_SetCallbackFunctions(&withHook);
            dbg_FailInit(DBG_ERR_NULLPOINTER);
        },
        ::testing::ExitedWithCode(1),
        "^dbg_Init failed : illegal nullpointer passed as argument\\.\\|host flushed$");
}

} // namespace
