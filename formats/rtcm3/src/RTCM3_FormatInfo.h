#pragma once

#include "FormatInfo.h"
#include "nuvrixrtcm3_global.h"

// The description of the RTCM 3 format ("RTCM3"): every message and sub-message description
// of the library, registered in a fixed order on the first getInstance. Every description
// asks for it before it is built, so any of them may be touched first. The first call must
// not race with another.
class NUVRIXRTCM3_EXPORT RTCM3_FormatInfo : public FormatInfo
{
public:
    static const RTCM3_FormatInfo *getInstance();

    RTCM3_FormatInfo(const RTCM3_FormatInfo &) = delete;
    RTCM3_FormatInfo &operator=(const RTCM3_FormatInfo &) = delete;

private:
    RTCM3_FormatInfo();
    ~RTCM3_FormatInfo() override;

    void setupMessageInfos();

    bool mMessageInfosSetUp;
};
