#include "dbg.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

struct DebugState
{
    const HostCallbackFunctions *callbacks = nullptr;
    bool initialised = false;
    int useCount = 0;
    int outputParameter1 = 0;
    int outputParameter2 = 0;
    unsigned int bufferSize = 0;
    std::optional<std::string> moduleFilter;
    std::optional<std::string> subModuleFilter;
    dbg_time_t startTime = 0;
    dbg_time_t stopTime = DBG_TIME_UNLIMITED;
    unsigned int levelMask = 0;
    unsigned int infoMask = 0;
    FILE *logStream = nullptr;
    bool ownsLogStream = false;
    std::optional<dbg_time_t> explicitTime;
};

// Reached through a function so that the library's load-time set-up finds
// the state built, whatever order the static objects are made in.
DebugState &state()
{
    static DebugState instance;
    return instance;
}

const char *const errorTexts[] = {
    " success.",
    " unknown type.",
    " could not open file.",
    " illegal nullpointer passed as argument.",
    " functionality not yet implemented.",
    " Mutex init failed.",
    " could not close file.",
};

bool contains(const char *text, const char *word)
{
    return std::strstr(text, word) != nullptr;
}

std::optional<std::string> readVariable(const char *name)
{
    const char *value = dbg_getenv(name);
    if (!value)
        return std::nullopt;
    return std::string(value);
}

// Seconds in decimal to milliseconds; text that is no number counts as 0,
// like atol, and values beyond the clock's range saturate.
dbg_time_t secondsToTime(const std::string &text)
{
    const char *begin = text.c_str();
    while (*begin == ' ' || *begin == '\t')
        ++begin;
    if (*begin == '-')
        return 0;
    errno = 0;
    const unsigned long long seconds = std::strtoull(begin, nullptr, 10);
    if (errno == ERANGE || seconds > DBG_TIME_UNLIMITED / 1000)
        return DBG_TIME_UNLIMITED;
    return dbg_time_t(seconds) * 1000;
}

void readFiltersAndTimes(DebugState &s)
{
    s.subModuleFilter = readVariable("KVT_SUBMODULES");
    s.moduleFilter = readVariable("KVT_MODULES");
    const std::optional<std::string> start = readVariable("KVT_STARTTIME");
    s.startTime = start ? secondsToTime(*start) : 0;
    const std::optional<std::string> stop = readVariable("KVT_STOPTIME");
    s.stopTime = stop ? secondsToTime(*stop) : DBG_TIME_UNLIMITED;
}

// A log file that cannot be opened is no error: trace goes to standard output.
void openLogStream(DebugState &s, const char *logFileVariable)
{
    const char *path = dbg_getenv(logFileVariable ? logFileVariable : "KVT_LOGFILE");
    FILE *file = path ? std::fopen(path, "a+") : nullptr;
    s.logStream = file ? file : stdout;
    s.ownsLogStream = file != nullptr;
    if (s.callbacks && s.callbacks->logStreamOpened)
        s.callbacks->logStreamOpened(s.logStream);
}

void reportError(const char *what, int code)
{
    const HostCallbackFunctions *callbacks = state().callbacks;
    if (!callbacks || !callbacks->reportError)
        return;
    const std::string text = std::string(what) + dbg_GetErrorText(code);
    callbacks->reportError(text.c_str(), DBG_LEVEL_ERROR);
}

int closeLogStream(DebugState &s)
{
    int result = DBG_ERR_NONE;
    if (s.ownsLogStream && std::fclose(s.logStream) != 0) {
        result = DBG_ERR_CLOSE_FILE;
        reportError("dbg_Terminate failed", result);
    }
    s.logStream = nullptr;
    s.ownsLogStream = false;
    return result;
}

bool filterIs(const std::string &filter, const char *word)
{
    return filter == word;
}

} // namespace

void dbg_SetCallbackFunctions(const HostCallbackFunctions *callbacks)
{
    state().callbacks = callbacks;
}

const HostCallbackFunctions *dbg_GetCallbackFunctions()
{
    return state().callbacks;
}

int dbg_Init(const char *logFileVariable, int outputParameter1, int outputParameter2,
             unsigned int bufferSize)
{
    DebugState &s = state();
    s.outputParameter1 = outputParameter1;
    s.outputParameter2 = outputParameter2;
    s.bufferSize = bufferSize;
    if (s.initialised) {
        ++s.useCount;
        return DBG_ERR_NONE;
    }
    readFiltersAndTimes(s);
    openLogStream(s, logFileVariable);
    int result = dbg_TraceLevelFromText(dbg_getenv("KVT_TRACELEVEL"), &s.levelMask);
    if (result == DBG_ERR_NONE)
        result = dbg_TraceInfoFromText(dbg_getenv("KVT_TRACEINFO"), &s.infoMask);
    if (result != DBG_ERR_NONE)
        dbg_FailInit(result);
    s.initialised = true;
    ++s.useCount;
    return DBG_ERR_NONE;
}

int dbg_Terminate()
{
    DebugState &s = state();
    if (s.useCount == 0)
        return DBG_ERR_NONE;
    if (--s.useCount > 0)
        return DBG_ERR_NONE;
    s.initialised = false;
    return closeLogStream(s);
}

const char *dbg_getenv(const char *name)
{
    if (!name)
        return nullptr;
    const HostCallbackFunctions *callbacks = state().callbacks;
    if (callbacks && callbacks->getEnvironment)
        return callbacks->getEnvironment(name);
    return std::getenv(name);
}

int dbg_SubModActive(const char *module, const char *submodule)
{
    const DebugState &s = state();
    if (!s.initialised)
        return -1;
    if (s.moduleFilter) {
        if (filterIs(*s.moduleFilter, "none"))
            return 0;
        if (!filterIs(*s.moduleFilter, "all")
            && !(module && contains(s.moduleFilter->c_str(), module)))
            return 0;
    }
    if (!s.subModuleFilter || filterIs(*s.subModuleFilter, "all"))
        return 1;
    if (filterIs(*s.subModuleFilter, "none"))
        return 0;
    return submodule && contains(s.subModuleFilter->c_str(), submodule) ? 1 : 0;
}

int dbg_TimeActive()
{
    const dbg_time_t now = dbg_GetTime();
    const DebugState &s = state();
    return s.startTime <= now && now <= s.stopTime ? 1 : 0;
}

void dbg_SetTime(dbg_time_t time)
{
    state().explicitTime = time;
}

void dbg_ClearTime()
{
    state().explicitTime.reset();
}

dbg_time_t dbg_GetTime()
{
    const DebugState &s = state();
    if (s.explicitTime)
        return *s.explicitTime;
    if (s.callbacks && s.callbacks->currentTime)
        return s.callbacks->currentTime();
    return 0;
}

void dbg_Lock()
{
    const HostCallbackFunctions *callbacks = state().callbacks;
    if (callbacks && callbacks->lock)
        callbacks->lock(callbacks->lockArgument);
}

void dbg_Unlock()
{
    const HostCallbackFunctions *callbacks = state().callbacks;
    if (callbacks && callbacks->unlock)
        callbacks->unlock(callbacks->lockArgument);
}

const char *dbg_GetErrorText(int code)
{
    const int count = int(sizeof errorTexts / sizeof errorTexts[0]);
    return code >= 0 && code < count ? errorTexts[code] : "Unknown Error";
}

int dbg_TraceLevelFromText(const char *text, unsigned int *mask)
{
    if (!mask)
        return DBG_ERR_NULLPOINTER;
    unsigned int level = 1;
    if (text) {
        if (contains(text, "2"))
            level = 17;
        if (contains(text, "1"))
            level |= 8;
        if (contains(text, "0"))
            level |= 4;
        if (contains(text, "FUNC"))
            level |= 2;
        if (contains(text, "none"))
            level = 0;
        if (contains(text, "all"))
            level = 255;
    }
    *mask = level;
    return DBG_ERR_NONE;
}

int dbg_TraceInfoFromText(const char *text, unsigned int *mask)
{
    if (!mask)
        return DBG_ERR_NULLPOINTER;
    if (!text) {
        *mask = 106;
        return DBG_ERR_NONE;
    }
    static const struct { const char *word; unsigned int bit; } keywords[] = {
        {"MODULE", 1}, {"SUBMOD", 2}, {"FUNC", 8}, {"FILE", 16},
        {"LINE", 32}, {"LEVEL", 64}, {"TIME", 128}, {"THREAD", 256},
    };
    unsigned int info = 0;
    for (const auto &keyword : keywords) {
        if (contains(text, keyword.word))
            info |= keyword.bit;
    }
    *mask = contains(text, "all") ? 511 : info;
    return DBG_ERR_NONE;
}

void dbg_FailInit(int code)
{
    std::printf("dbg_Init failed :%s", dbg_GetErrorText(code));
    std::fflush(stdout);
    const HostCallbackFunctions *callbacks = state().callbacks;
    if (callbacks && callbacks->abortHook)
        callbacks->abortHook();
    std::exit(1);
}

int dbg_IsInitialised() { return state().initialised ? 1 : 0; }
int dbg_GetUseCount() { return state().useCount; }
unsigned int dbg_GetTraceLevelMask() { return state().levelMask; }
unsigned int dbg_GetTraceInfoMask() { return state().infoMask; }
dbg_time_t dbg_GetStartTime() { return state().startTime; }
dbg_time_t dbg_GetStopTime() { return state().stopTime; }
FILE *dbg_GetLogStream() { return state().logStream; }
int dbg_GetOutputParameter1() { return state().outputParameter1; }
int dbg_GetOutputParameter2() { return state().outputParameter2; }
unsigned int dbg_GetBufferSize() { return state().bufferSize; }

const char *dbg_GetModuleFilter()
{
    const DebugState &s = state();
    return s.moduleFilter ? s.moduleFilter->c_str() : nullptr;
}

const char *dbg_GetSubModuleFilter()
{
    const DebugState &s = state();
    return s.subModuleFilter ? s.subModuleFilter->c_str() : nullptr;
}
