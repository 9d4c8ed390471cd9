#pragma once
// Everything a host program uses of the RTCM 3 library, in one include: the synchronizer,
// the decoder, the format description and, for every record type, its message description,
// its field descriptions and its message class.

#include "RTCM3Decoder.h"
#include "RTCM3Synchronizer.h"
#include "RTCM3_FormatInfo.h"
#include "RTCM3_host.h"
