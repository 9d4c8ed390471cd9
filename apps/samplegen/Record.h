#pragma once
// Encoding one record into one checked frame.

#include "RTCM3_families.h"

#include <QByteArray>

#include <array>

namespace Kvt::Nuvrix::SampleGen {

constexpr uint16_t kMaxFrameSize = wire::Frame::maxBytes;

// The frame an encoder wrote, or a SampleError naming the code it returned.
QByteArray checkedFrame(const uint8_t* buffer, int32_t encodeResult, uint16_t messageNumber);

// Overloads per record type, so that one template serves every message of the sample.
namespace codec {
#define NUVRIX_SAMPLEGEN_CODEC(N)                                                                 \
    inline int32_t init(RTCM3_Message_Type_##N##_s* r) { return RTCM3_init_Message_Type_##N(r); } \
    inline int32_t encode(uint8_t* buffer, uint16_t size, RTCM3_Message_Type_##N##_s* r)          \
    {                                                                                             \
        return RTCM3_encode_Message_Type_##N(buffer, size, r);                                    \
    }                                                                                             \
    inline void release(RTCM3_Message_Type_##N##_s* r) { RTCM3_free_Message_Type_##N##_children(r); }
#define NUVRIX_SAMPLEGEN_GROUP(N, Group) \
    inline auto* append(RTCM3_Message_Type_##N##_s* r) { return RTCM3_append_Message_Type_##N##_##Group(r); }

NUVRIX_SAMPLEGEN_CODEC(1006)
NUVRIX_SAMPLEGEN_CODEC(1013)
NUVRIX_SAMPLEGEN_CODEC(1019)
NUVRIX_SAMPLEGEN_CODEC(1020)
NUVRIX_SAMPLEGEN_CODEC(1029)
NUVRIX_SAMPLEGEN_CODEC(1033)
NUVRIX_SAMPLEGEN_CODEC(1042)
NUVRIX_SAMPLEGEN_CODEC(1045)
NUVRIX_SAMPLEGEN_CODEC(1046)
NUVRIX_SAMPLEGEN_CODEC(1057)
NUVRIX_SAMPLEGEN_CODEC(1058)
NUVRIX_SAMPLEGEN_CODEC(1059)
NUVRIX_SAMPLEGEN_CODEC(1060)
NUVRIX_SAMPLEGEN_CODEC(1061)
NUVRIX_SAMPLEGEN_CODEC(1062)
NUVRIX_SAMPLEGEN_CODEC(1063)
NUVRIX_SAMPLEGEN_CODEC(1064)
NUVRIX_SAMPLEGEN_CODEC(1065)
NUVRIX_SAMPLEGEN_CODEC(1066)
NUVRIX_SAMPLEGEN_CODEC(1067)
NUVRIX_SAMPLEGEN_CODEC(1068)
NUVRIX_SAMPLEGEN_CODEC(1074)
NUVRIX_SAMPLEGEN_CODEC(1077)
NUVRIX_SAMPLEGEN_CODEC(1084)
NUVRIX_SAMPLEGEN_CODEC(1087)
NUVRIX_SAMPLEGEN_CODEC(1094)
NUVRIX_SAMPLEGEN_CODEC(1097)
NUVRIX_SAMPLEGEN_CODEC(1124)
NUVRIX_SAMPLEGEN_CODEC(1127)
NUVRIX_SAMPLEGEN_CODEC(1230)

NUVRIX_SAMPLEGEN_GROUP(1013, Announcements)
NUVRIX_SAMPLEGEN_GROUP(1057, Corrections)
NUVRIX_SAMPLEGEN_GROUP(1058, Corrections)
NUVRIX_SAMPLEGEN_GROUP(1059, Biases)
NUVRIX_SAMPLEGEN_GROUP(1060, Corrections)
NUVRIX_SAMPLEGEN_GROUP(1061, URA)
NUVRIX_SAMPLEGEN_GROUP(1062, Corrections)
NUVRIX_SAMPLEGEN_GROUP(1063, Corrections)
NUVRIX_SAMPLEGEN_GROUP(1064, Corrections)
NUVRIX_SAMPLEGEN_GROUP(1065, Biases)
NUVRIX_SAMPLEGEN_GROUP(1066, Corrections)
NUVRIX_SAMPLEGEN_GROUP(1067, URA)
NUVRIX_SAMPLEGEN_GROUP(1068, Corrections)

#undef NUVRIX_SAMPLEGEN_CODEC
#undef NUVRIX_SAMPLEGEN_GROUP
} // namespace codec

// A zeroed and initialised record that releases the arrays its groups grew on every path out.
// Zeroing first keeps members that a message does not fill from carrying stack garbage into
// the sample.
template <typename Rec>
class Record {
public:
    Record() { codec::init(&mRecord); }
    ~Record() { codec::release(&mRecord); }
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;

    Rec* operator->() { return &mRecord; }
    Rec& operator*() { return mRecord; }
    Rec* get() { return &mRecord; }

    QByteArray frame()
    {
        std::array<uint8_t, kMaxFrameSize> buffer{};
        const int32_t result = codec::encode(buffer.data(), kMaxFrameSize, &mRecord);
        return checkedFrame(buffer.data(), result, mRecord.Message_Number);
    }

private:
    Rec mRecord{};
};

} // namespace Kvt::Nuvrix::SampleGen
