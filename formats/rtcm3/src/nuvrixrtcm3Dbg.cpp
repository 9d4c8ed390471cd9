#include "dbg.h"

#include "HostCallbackFunctions.h"

namespace {

// Shares the host's trace configuration with this library from the moment it
// is loaded until it is unloaded.
class nuvrixrtcm3Dbg
{
public:
    nuvrixrtcm3Dbg()
    {
        dbg_SetCallbackFunctions(getCallBackFunctions());
        dbg_Init("ZOLMARK_NO_FILE_LOGGING_IMPLEMENTED", 0, 0, 3072);
    }

    ~nuvrixrtcm3Dbg() { dbg_Terminate(); }

    nuvrixrtcm3Dbg(const nuvrixrtcm3Dbg &) = delete;
    nuvrixrtcm3Dbg &operator=(const nuvrixrtcm3Dbg &) = delete;
};

const nuvrixrtcm3Dbg libraryTrace;

} // namespace
