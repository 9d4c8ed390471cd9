#pragma once
// The process around rtcm3dump's run: descriptors 0-2 that are surely open, SIGPIPE turned
// into a write error, and SIGINT/SIGTERM turned into a request to stop that the read loop
// sees within one bounded wait.

namespace lifecycle {

// Opens /dev/null onto any of descriptors 0, 1 and 2 that is closed, so that nothing opened
// later (a connection, a file being written) takes their place. Call before anything else.
// Standard output opened so cannot be written: writing to a closed output stays an error.
void ensureStandardDescriptors();

// SIGPIPE is ignored (a closed pipe shows as EPIPE); SIGINT and SIGTERM set the stop flag.
// The handlers do not restart system calls, so a blocking wait ends early.
void installSignalHandlers();

bool stopRequested();

} // namespace lifecycle
