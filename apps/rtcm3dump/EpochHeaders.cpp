#include "EpochHeaders.h"

#include "RTCM3_codec.h"
#include "RtcmSignals.h"

#include <cstring>

using namespace Kvt::Nuvrix;

EpochHeaders::EpochHeaders() : mHeader(std::make_unique<_RTCM3_message_t>())
{
    std::memset(static_cast<void *>(mHeader.get()), 0, sizeof(_RTCM3_message_t));
}

EpochHeaders::~EpochHeaders() = default;

const _RTCM3_message_t &EpochHeaders::of(const _RTCM3_message_t &record)
{
    const int number = record.Message_Type_1005.Message_Number;
    _RTCM3_message_t &h = *mHeader;
    if (View::msmSystem(number)) {
        // Every MSM shares the header of MSM7; empty masks leave no satellite and no cell.
        const auto &m = record.Message_Type_1077;
        auto &to = h.Message_Type_1077;
        to.kvtcg_message = m.kvtcg_message;
        to.Message_Number = m.Message_Number;
        to.Reference_Station_ID = m.Reference_Station_ID;
        to.Day_of_Week = m.Day_of_Week;
        to.Epoch_Time = m.Epoch_Time;
        to.Multiple_Message_Flag = m.Multiple_Message_Flag;
        to.Clock_Steering_Indicator = m.Clock_Steering_Indicator;
        to.Satellite_Mask = 0;
        to.Signal_Mask = 0;
        return h;
    }
    if ((number >= 1001 && number <= 1004) || (number >= 1009 && number <= 1012)) {
        // The eight legacy observation messages share the header of 1001.
        const auto &m = record.Message_Type_1001;
        auto &to = h.Message_Type_1001;
        to.kvtcg_message = m.kvtcg_message;
        to.Message_Number = m.Message_Number;
        to.Reference_Station_ID = m.Reference_Station_ID;
        to.Epoch_Time = m.Epoch_Time;
        to.Sync_Flag = m.Sync_Flag;
        to.Nr_Of_Satellites = 0;
        to.L1_Basic = nullptr;
        return h;
    }
    return record;
}
