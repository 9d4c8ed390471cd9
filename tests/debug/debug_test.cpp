// The debug trace runtime: settings read from the host's environment, the use count, the log
// file and its failures, the host's services and their fallbacks, and the time window.
#include "dbg.h"

#include <QtCore/QByteArray>
#include <QtCore/QFile>
#include <QtCore/QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// A host whose services record how the runtime uses them.
struct FakeHost
{
    std::map<std::string, std::string> environment;
    std::uint64_t time = 0;
    std::vector<FILE *> announced;
    std::vector<std::pair<std::string, int>> errors;
};

FakeHost *fakeHost = nullptr;
int lockArgument = 0;

const HostCallbackFunctions fakeTable = {
    &lockArgument,
    [](void *) {},
    [](void *) {},
    [] { return fakeHost->time; },
    [](FILE *stream) { fakeHost->announced.push_back(stream); },
    [](const char *text, int level) { fakeHost->errors.emplace_back(text, level); },
    [](const char *name) -> const char * {
        const auto found = fakeHost->environment.find(name);
        return found == fakeHost->environment.end() ? nullptr : found->second.c_str();
    },
    nullptr,
};

// Every test starts from a runtime brought down to zero under the fake host, and leaves it as
// the library's load left it.
class DebugRuntime : public ::testing::Test
{
protected:
    void SetUp() override
    {
        terminateAll();
        fakeHost = &mHost;
        dbg_SetCallbackFunctions(&fakeTable);
        dbg_ClearTime();
        ASSERT_TRUE(mDir.isValid());
    }

    void TearDown() override
    {
        terminateAll();
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

    // Brings the runtime down and up again under the given environment.
    void initWith(std::map<std::string, std::string> environment)
    {
        terminateAll();
        mHost.environment = std::move(environment);
        ASSERT_EQ(dbg_Init(nullptr, 0, 0, 0), DBG_ERR_NONE);
    }

    std::string path(const char *file) const { return mDir.filePath(QString::fromLatin1(file)).toStdString(); }

    static QByteArray readFile(const std::string &path)
    {
        QFile file(QString::fromStdString(path));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    FakeHost mHost;
    QTemporaryDir mDir;
};

TEST(DebugRuntimeAtLoad, LibraryLoadInitialisedTheRuntimeOnceWithTheHostTable)
{
    EXPECT_EQ(dbg_GetUseCount(), 1);
    EXPECT_EQ(dbg_GetCallbackFunctions(), getCallBackFunctions());
    EXPECT_EQ(getAnnouncedLogStream(), dbg_GetLogStream());
}

TEST_F(DebugRuntime, TraceLevelAndInfoMasksFollowTheirTexts)
{
    struct Case { const char *variable; const char *text; unsigned int mask; };   // null text: unset
    const Case cases[] = {
        {"KVT_TRACELEVEL", nullptr, 1}, {"KVT_TRACELEVEL", "", 1}, {"KVT_TRACELEVEL", "12", 25},
        {"KVT_TRACELEVEL", "2", 17}, {"KVT_TRACELEVEL", "1", 9}, {"KVT_TRACELEVEL", "0", 5},
        {"KVT_TRACELEVEL", "0FUNC", 7}, {"KVT_TRACELEVEL", "FUNC", 3}, {"KVT_TRACELEVEL", "func", 1},
        {"KVT_TRACELEVEL", "none", 0}, {"KVT_TRACELEVEL", "none 12 FUNC", 0},
        {"KVT_TRACELEVEL", "none all", 255}, {"KVT_TRACELEVEL", "all", 255}, {"KVT_TRACELEVEL", "ALL", 1},
        {"KVT_TRACEINFO", nullptr, 106}, {"KVT_TRACEINFO", "", 0}, {"KVT_TRACEINFO", "LINE TIME", 160},
        {"KVT_TRACEINFO", "all", 511}, {"KVT_TRACEINFO", "MODULE", 1}, {"KVT_TRACEINFO", "SUBMOD", 2},
        {"KVT_TRACEINFO", "SUBMODULE", 3}, {"KVT_TRACEINFO", "FUNC,FILE", 24},
        {"KVT_TRACEINFO", "LEVEL THREAD", 320}, {"KVT_TRACEINFO", "line time", 0},
        {"KVT_TRACEINFO", "MODULE SUBMOD FUNC FILE LINE LEVEL TIME THREAD", 507},
        {"KVT_TRACEINFO", "TIME all", 511},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.variable) + "=" + (c.text ? c.text : "(unset)"));
        initWith(c.text ? std::map<std::string, std::string>{{c.variable, c.text}}
                        : std::map<std::string, std::string>{});
        const bool level = std::string(c.variable) == "KVT_TRACELEVEL";
        EXPECT_EQ(level ? dbg_GetTraceLevelMask() : dbg_GetTraceInfoMask(), c.mask);
    }
}

TEST_F(DebugRuntime, StartAndStopSecondsBecomeMillisecondsUpToTheLargestThatFits)
{
    struct Case { const char *start; const char *stop; dbg_time_t startTime; dbg_time_t stopTime; };
    const Case cases[] = {
        {nullptr, nullptr, 0, DBG_TIME_UNLIMITED},
        {"12", "30", 12000, 30000},
        {"abc", "0", 0, 0},
        // The largest number of seconds that still fits, and the first that does not.
        {"-5", "18446744073709552", 0, DBG_TIME_UNLIMITED},
        {"99999999999999999999", "18446744073709551", DBG_TIME_UNLIMITED, dbg_time_t(18446744073709551u) * 1000},
    };
    for (const Case &c : cases) {
        std::map<std::string, std::string> environment;
        if (c.start)
            environment = {{"KVT_STARTTIME", c.start}, {"KVT_STOPTIME", c.stop}};
        initWith(environment);
        EXPECT_EQ(dbg_GetStartTime(), c.startTime) << (c.start ? c.start : "(unset)");
        EXPECT_EQ(dbg_GetStopTime(), c.stopTime) << (c.stop ? c.stop : "(unset)");
    }
}

TEST_F(DebugRuntime, ModuleAndSubModuleFiltersDecideWhetherTracingIsActive)
{
    struct Case { const char *modules; const char *submodules; const char *module; const char *submodule; int active; };
    const Case cases[] = {
        {nullptr, nullptr, "codec", "crc", 1},     {"none", nullptr, "codec", "crc", 0},
        {"none", "all", "codec", "crc", 0},        {"all", nullptr, "codec", "crc", 1},
        {"decoder codec", nullptr, "codec", "crc", 1}, {"decoder", nullptr, "codec", "crc", 0},
        {"decoder", "all", nullptr, "crc", 0},     {"codec", "none", "codec", "crc", 0},
        {"codec", "all", "codec", "crc", 1},       {"codec", "frame crc", "codec", "crc", 1},
        {"codec", "frame", "codec", "crc", 0},     {"codec", "frame", "codec", nullptr, 0},
        {nullptr, "crc", "anything", "crc", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.modules ? c.modules : "-") + " / " + (c.submodules ? c.submodules : "-"));
        std::map<std::string, std::string> environment;
        if (c.modules)
            environment["KVT_MODULES"] = c.modules;
        if (c.submodules)
            environment["KVT_SUBMODULES"] = c.submodules;
        initWith(environment);
        EXPECT_EQ(dbg_SubModActive(c.module, c.submodule), c.active);
    }
    terminateAll();
    EXPECT_EQ(dbg_SubModActive("codec", "crc"), -1);
}

TEST_F(DebugRuntime, SecondInitOnlyRaisesTheUseCountAndOpensNoFile)
{
    initWith({{"KVT_TRACELEVEL", "all"}, {"KVT_TRACEINFO", "LINE"}, {"KVT_LOGFILE", path("first.log")}});
    FILE *const stream = dbg_GetLogStream();
    mHost.environment = {{"KVT_TRACELEVEL", "none"}, {"KVT_TRACEINFO", "all"},
                         {"KVT_STARTTIME", "5"}, {"KVT_LOGFILE", path("second.log")}};
    ASSERT_EQ(dbg_Init(nullptr, 1, 2, 100), DBG_ERR_NONE);
    EXPECT_EQ(dbg_GetUseCount(), 2);
    EXPECT_EQ(dbg_GetTraceLevelMask(), 255u);
    EXPECT_EQ(dbg_GetTraceInfoMask(), 32u);
    EXPECT_EQ(dbg_GetStartTime(), 0u);
    EXPECT_EQ(dbg_GetLogStream(), stream);
    EXPECT_EQ(mHost.announced, std::vector<FILE *>{stream});
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("second.log"))));
}

TEST_F(DebugRuntime, OnlyTheLastTerminateClosesTheLogAndClearsTheFlag)
{
    initWith({{"KVT_LOGFILE", path("trace.log")}});
    dbg_Init(nullptr, 0, 0, 0);
    EXPECT_EQ(dbg_Terminate(), DBG_ERR_NONE);
    EXPECT_TRUE(dbg_IsInitialised());
    ASSERT_NE(dbg_GetLogStream(), nullptr);
    EXPECT_GE(std::fputs("still open\n", dbg_GetLogStream()), 0);
    EXPECT_EQ(dbg_Terminate(), DBG_ERR_NONE);
    EXPECT_FALSE(dbg_IsInitialised());
    EXPECT_EQ(dbg_GetLogStream(), nullptr);
    EXPECT_EQ(readFile(path("trace.log")), QByteArray("still open\n"));
    EXPECT_EQ(dbg_Terminate(), DBG_ERR_NONE);
    EXPECT_EQ(dbg_GetUseCount(), 0);
}

TEST_F(DebugRuntime, LogFileNamedByTheGivenVariableIsOpenedForAppendingAndAnnounced)
{
    const std::string file = path("append.log");
    QFile existing(QString::fromStdString(file));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.write("old\n");
    existing.close();
    terminateAll();
    mHost.environment = {{"NUVRIX_TEST_LOGFILE", file}, {"KVT_LOGFILE", path("default.log")}};
    ASSERT_EQ(dbg_Init("NUVRIX_TEST_LOGFILE", 0, 0, 0), DBG_ERR_NONE);
    FILE *const stream = dbg_GetLogStream();
    ASSERT_NE(stream, stdout);
    EXPECT_EQ(mHost.announced, std::vector<FILE *>{stream});
    std::fputs("new\n", stream);
    dbg_Terminate();
    EXPECT_EQ(readFile(file), QByteArray("old\nnew\n"));
    EXPECT_FALSE(QFile::exists(QString::fromStdString(path("default.log"))));
}

TEST_F(DebugRuntime, UnopenableOrUnsetLogFileFallsBackToStandardOutput)
{
    for (const char *value : {"/nonexistent-directory/trace.log", "", static_cast<const char *>(nullptr)}) {
        mHost.announced.clear();
        initWith(value ? std::map<std::string, std::string>{{"KVT_LOGFILE", value}}
                       : std::map<std::string, std::string>{});
        EXPECT_EQ(dbg_GetLogStream(), stdout) << (value ? value : "(unset)");
        EXPECT_EQ(mHost.announced, std::vector<FILE *>{stdout});
    }
}

TEST_F(DebugRuntime, FailedCloseIsReportedToTheHost)
{
    initWith({{"KVT_LOGFILE", path("broken.log")}});
    FILE *const stream = dbg_GetLogStream();
    ASSERT_NE(stream, stdout);
    std::fputs("pending", stream);
    ::close(::fileno(stream)); // pulls the file from under the stream
    EXPECT_EQ(dbg_Terminate(), DBG_ERR_CLOSE_FILE);
    ASSERT_EQ(mHost.errors.size(), 1u);
    EXPECT_EQ(mHost.errors[0].first, "dbg_Terminate failed could not close file.");
    EXPECT_EQ(mHost.errors[0].second, DBG_LEVEL_ERROR);
}

TEST_F(DebugRuntime, HostEnvironmentWinsAndATableWithoutServicesFallsBackToTheProcess)
{
    const char *saved = std::getenv("KVT_TRACELEVEL");
    const std::string savedValue = saved ? saved : "";
    ::setenv("KVT_TRACELEVEL", "2", 1);
    initWith({});
    EXPECT_EQ(dbg_GetTraceLevelMask(), 1u);
    terminateAll();
    const HostCallbackFunctions empty = {};
    dbg_SetCallbackFunctions(&empty);
    dbg_Init(nullptr, 0, 0, 0);
    EXPECT_EQ(dbg_GetTraceLevelMask(), 17u);
    EXPECT_EQ(dbg_GetTime(), 0u);
    dbg_Lock();
    dbg_Unlock();
    dbg_Terminate();
    if (saved)
        ::setenv("KVT_TRACELEVEL", savedValue.c_str(), 1);
    else
        ::unsetenv("KVT_TRACELEVEL");
}

TEST_F(DebugRuntime, TimeSetExplicitlyWinsOverTheHostClockAndIsActiveFromStartToStop)
{
    mHost.time = 4242;
    EXPECT_EQ(dbg_GetTime(), 4242u);
    dbg_SetTime(0);
    EXPECT_EQ(dbg_GetTime(), 0u);
    dbg_ClearTime();
    EXPECT_EQ(dbg_GetTime(), 4242u);

    initWith({{"KVT_STARTTIME", "10"}, {"KVT_STOPTIME", "20"}});
    const std::pair<dbg_time_t, int> cases[] = {
        {0, 0}, {9999, 0}, {10000, 1}, {15000, 1}, {20000, 1}, {20001, 0}, {DBG_TIME_UNLIMITED, 0}};
    for (const auto &[time, active] : cases) {
        dbg_SetTime(time);
        EXPECT_EQ(dbg_TimeActive(), active) << time;
    }
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
