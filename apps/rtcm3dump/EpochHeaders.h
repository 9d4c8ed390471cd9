#pragma once
// What the summary's epoch count needs of an observation record: its header (station, time,
// the flag that more messages of the epoch follow), as a record without satellites. The
// engineering view then dates and gathers epochs as it would the whole record, at a fraction
// of the cost, and the record may come from a decode that skipped the observables.

#include <memory>

namespace Kvt::Nuvrix { union _RTCM3_message_t; }

class EpochHeaders
{
public:
    EpochHeaders();
    ~EpochHeaders();
    EpochHeaders(const EpochHeaders &) = delete;
    EpochHeaders &operator=(const EpochHeaders &) = delete;

    // The header of an observation record as a record of its own, valid until the next call;
    // any other record as it is.
    const Kvt::Nuvrix::_RTCM3_message_t &of(const Kvt::Nuvrix::_RTCM3_message_t &record);

private:
    std::unique_ptr<Kvt::Nuvrix::_RTCM3_message_t> mHeader;  // zeroed once; only headers change
};
