#include "EpochHeaders.h"

#include "RTCM3_codec.h"
#include "RTCM3_families.h"

#include <cstring>
#include <type_traits>

using namespace Kvt::Nuvrix;

EpochHeaders::EpochHeaders() : mHeader(std::make_unique<_RTCM3_message_t>())
{
    std::memset(static_cast<void *>(mHeader.get()), 0, sizeof(_RTCM3_message_t));
}

EpochHeaders::~EpochHeaders() = default;

namespace {

// A union and its members share one address: the member of the record's own type.
template <class Record>
Record &sameMember(_RTCM3_message_t &u)
{
    return *reinterpret_cast<Record *>(&u);
}

} // namespace

const _RTCM3_message_t &EpochHeaders::of(const _RTCM3_message_t &record)
{
    _RTCM3_message_t &h = *mHeader;
    // Each record is copied into the member of its own type; what the view reads beyond the
    // header is set empty, as records of other types share these bytes.
    const auto msm = [&h](const auto &m) {
        auto &to = sameMember<std::decay_t<decltype(m)>>(h);
        to.kvtcg_message = m.kvtcg_message;
        to.Message_Number = m.Message_Number;
        to.Reference_Station_ID = m.Reference_Station_ID;
        to.Day_of_Week = m.Day_of_Week;
        to.Epoch_Time = m.Epoch_Time;
        to.Multiple_Message_Flag = m.Multiple_Message_Flag;
        to.Clock_Steering_Indicator = m.Clock_Steering_Indicator;
        to.Satellite_Mask = 0;
        to.Signal_Mask = 0;
        to.Nsat = to.Nsig = to.Ncell = to.Cell_Mask_Length = 0;
    };
    const auto legacy = [&h](const auto &m) {
        auto &to = sameMember<std::decay_t<decltype(m)>>(h);
        to.kvtcg_message = m.kvtcg_message;
        to.Message_Number = m.Message_Number;
        to.Reference_Station_ID = m.Reference_Station_ID;
        to.Epoch_Time = m.Epoch_Time;
        to.Sync_Flag = m.Sync_Flag;
        to.Nr_Of_Satellites = 0;
    };
    const int number = family::messageNumber(record);
    return family::visitMsm(number, record, msm) || family::visitLegacyObservables(number, record, legacy) ? h : record;
}
