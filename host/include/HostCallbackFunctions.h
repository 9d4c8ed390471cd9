#pragma once

#include "nuvrixhost_global.h"

#include <cstdint>
#include <cstdio>

// The services that the host offers to the trace runtimes of the format
// libraries it loads. Every entry may be null: a library must then do without.
struct HostCallbackFunctions
{
    // Handed to lock and unlock unchanged, so that one pair of functions can
    // serve several locks.
    void *lockArgument;
    void (*lock)(void *lockArgument);
    void (*unlock)(void *lockArgument);

    // Milliseconds on the host's clock.
    std::uint64_t (*currentTime)();

    // Told which stream a library's trace output goes to once it is open.
    void (*logStreamOpened)(FILE *stream);

    // level is a trace level bit; 1 marks an error.
    void (*reportError)(const char *text, int level);

    // The host's view of the environment; returns null for an unset variable.
    const char *(*getEnvironment)(const char *name);

    // Called just before a library ends the process, to let the host flush
    // what it holds.
    void (*abortHook)();
};

// The table of the running host; lives as long as the host library is loaded.
NUVRIXHOST_EXPORT const HostCallbackFunctions *getCallBackFunctions();

// The stream most recently announced through logStreamOpened of the table
// above, or null before any announcement.
NUVRIXHOST_EXPORT FILE *getAnnouncedLogStream();
