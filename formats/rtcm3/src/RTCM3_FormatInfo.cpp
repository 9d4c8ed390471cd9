#include "RTCM3_FormatInfo.h"

#include "MemLeakTracer.h"
#include "RTCM3_MessageInfoT.h"

const RTCM3_FormatInfo *RTCM3_FormatInfo::getInstance()
{
    static RTCM3_FormatInfo instance;
    if (!instance.mMessageInfosSetUp)
        instance.setupMessageInfos();
    return &instance;
}

RTCM3_FormatInfo::RTCM3_FormatInfo()
    : FormatInfo(QStringLiteral("RTCM3"))
{
    MemLeakTracer::getInstance()->doAllocateObject("RTCM3_FormatInfo");
    mMessageInfosSetUp = false;
}

RTCM3_FormatInfo::~RTCM3_FormatInfo()
{
    MemLeakTracer::getInstance()->doDeallocateObject("RTCM3_FormatInfo");
}

void RTCM3_FormatInfo::setupMessageInfos()
{
    // Set first: every description asks for the format while it is built, and must then
    // get it back at once instead of starting the set-up again.
    mMessageInfosSetUp = true;
    const RTCM3RegistrationTable table = RTCM3_registrationTable();
    for (int k = 0; k < table.count; ++k) {
        const RTCM3Registration &entry = table.entries[k];
        if (entry.isSubMessage)
            addSubMessageInfo(entry.description());
        else
            addMessageInfo(entry.description());
    }
}
