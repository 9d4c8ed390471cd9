#pragma once

// Debug trace runtime: the trace configuration that a library shares with
// its host, read once from the environment when the library is loaded.

#include "HostCallbackFunctions.h"

#include <cstdint>
#include <cstdio>

#if defined(__GNUC__)
#  define DBG_API __attribute__((visibility("default")))
#else
#  define DBG_API
#endif

using dbg_time_t = std::uint64_t;

// A stop time that is never reached.
constexpr dbg_time_t DBG_TIME_UNLIMITED = ~dbg_time_t(0);

enum dbg_error_e {
    DBG_ERR_NONE = 0,
    DBG_ERR_UNKNOWN_TYPE = 1,
    DBG_ERR_OPEN_FILE = 2,
    DBG_ERR_NULLPOINTER = 3,
    DBG_ERR_NOT_IMPLEMENTED = 4,
    DBG_ERR_MUTEX_INIT = 5,
    DBG_ERR_CLOSE_FILE = 6,
};

// Trace level bit of the error reports sent to the host.
constexpr int DBG_LEVEL_ERROR = 1;

// The host's services; null, or a table whose entries may be null, means the
// runtime does without them. Set before dbg_Init; the table must outlive the
// runtime's use of it.
DBG_API void dbg_SetCallbackFunctions(const HostCallbackFunctions *callbacks);
DBG_API const HostCallbackFunctions *dbg_GetCallbackFunctions();

// Reads the configuration and opens the log stream on the first call; later
// calls only count. logFileVariable names the variable that holds the log
// file's path (KVT_LOGFILE when null). The numbers are kept for trace output.
// Ends the process when the trace masks cannot be set up.
DBG_API int dbg_Init(const char *logFileVariable, int outputParameter1, int outputParameter2,
                     unsigned int bufferSize);
// Undoes one dbg_Init; the last one closes the log file. Returns
// DBG_ERR_CLOSE_FILE when that close failed (reported to the host as well).
// Without a matching dbg_Init it does nothing.
DBG_API int dbg_Terminate();

// The host's environment lookup when it has one, else the process environment.
DBG_API const char *dbg_getenv(const char *name);

// 1 when tracing is on for the sub-module of the module, 0 when it is off,
// -1 before initialisation.
DBG_API int dbg_SubModActive(const char *module, const char *submodule);

// 1 when dbg_GetTime() lies within the start and stop times, both included.
DBG_API int dbg_TimeActive();
// A time set here wins over the host's clock until dbg_ClearTime.
DBG_API void dbg_SetTime(dbg_time_t time);
DBG_API void dbg_ClearTime();
// The time set, else the host's clock, else 0.
DBG_API dbg_time_t dbg_GetTime();

// Serialise trace output through the host's lock, when it offers one.
DBG_API void dbg_Lock();
DBG_API void dbg_Unlock();

// The text of a dbg_error_e code; "Unknown Error" for any other number.
DBG_API const char *dbg_GetErrorText(int code);

// Trace masks from the text of KVT_TRACELEVEL and KVT_TRACEINFO; a null
// text stands for an unset variable. DBG_ERR_NULLPOINTER without a mask to
// write to.
DBG_API int dbg_TraceLevelFromText(const char *text, unsigned int *mask);
DBG_API int dbg_TraceInfoFromText(const char *text, unsigned int *mask);

// Reports why dbg_Init failed on standard output and ends the process with
// status 1, after giving the host's abort hook a chance to flush.
[[noreturn]] DBG_API void dbg_FailInit(int code);

// The configuration as it stands.
DBG_API int dbg_IsInitialised();
DBG_API int dbg_GetUseCount();
DBG_API unsigned int dbg_GetTraceLevelMask();
DBG_API unsigned int dbg_GetTraceInfoMask();
DBG_API dbg_time_t dbg_GetStartTime();
DBG_API dbg_time_t dbg_GetStopTime();
// Null when the variable was unset.
DBG_API const char *dbg_GetModuleFilter();
DBG_API const char *dbg_GetSubModuleFilter();
// Null while not initialised.
DBG_API FILE *dbg_GetLogStream();
DBG_API int dbg_GetOutputParameter1();
DBG_API int dbg_GetOutputParameter2();
DBG_API unsigned int dbg_GetBufferSize();
