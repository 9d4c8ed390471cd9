#pragma once
// Shared by the description tests: a fixture that proves every host object built in a test
// is released again, and records of any type decoded the way a decoder gets them.

#include "nuvrixrtcm3.h"

#include "../support/live_objects.h"
#include "../support/random_record.h"

#include "MemLeakTracer.h"
#include "RTCM3_layout.h"

#include <gtest/gtest.h>

#include <QtCore/QLocale>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace descriptions {

namespace L = Kvt::Nuvrix::layout;
using Kvt::Nuvrix::_RTCM3_message_t;

// Texts are compared as the C locale writes numbers: no digit grouping, '.' as decimal point.
class CLocaleEnvironment : public ::testing::Environment
{
public:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
};

// Every test that builds messages must leave as many live host objects as it found.
using HostObjects = LiveHostObjects;

// Restores a process-wide host setting at the end of a test.
template <typename T>
class Restore
{
public:
    explicit Restore(T &value) : mValue(value), mSaved(value) {}
    ~Restore() { mValue = mSaved; }
    Restore(const Restore &) = delete;
    Restore &operator=(const Restore &) = delete;

private:
    T &mValue;
    T mSaved;
};

// A 1005 record with a value in every field, as several suites read it.
inline Kvt::Nuvrix::RTCM3_Message_Type_1005_s stationRecord()
{
    Kvt::Nuvrix::RTCM3_Message_Type_1005_s record{};
    Kvt::Nuvrix::RTCM3_init_Message_Type_1005(&record);
    record.Message_Length = 19;
    record.Reference_Station_ID = 2003;
    record.GPS_Indicator = 1;
    record.ECEF_X = -123456789;
    record.Single_Receiver_Oscillator_Indicator = 1;
    record.ECEF_Y = 42;
    record.Quarter_Cycle_Indicator = 2;
    record.ECEF_Z = 7;
    const quint8 crc[] = {0x0a, 0xbc, 0x01};
    std::memcpy(record.CRC, crc, 3);
    return record;
}

inline QList<bool> onlyFields(int fieldCount, std::initializer_list<int> selected)
{
    QList<bool> selection(fieldCount, false);
    for (int k : selected)
        selection[k] = true;
    return selection;
}

// A decode result of the given message enumerator: a random record of it with two elements
// in every group, encoded into a frame and decoded from it. Empty (enumerator 0) when encoding
// or decoding failed.
class DecodedMessage
{
public:
    explicit DecodedMessage(qint32 enumerator)
    {
        std::mt19937_64 random{quint64(enumerator)};
        randomrecord::Encoded encoded = randomrecord::randomFrame(enumerator, random, 2);
        std::memset(&mResult, 0, sizeof mResult);
        if (encoded.bits > 0)
            mBits = Kvt::Nuvrix::RTCM3_decode(nullptr, encoded.frame.data(), quint16(encoded.frame.size()), &mResult);
    }
    ~DecodedMessage()
    {
        if (!mAdopted)
            Kvt::Nuvrix::RTCM3_free_message_children(&mResult);
    }
    DecodedMessage(const DecodedMessage &) = delete;
    DecodedMessage &operator=(const DecodedMessage &) = delete;

    int32_t bits() const { return mBits; }
    _RTCM3_message_t &result() { return mResult; }
    // The message object now owns a copy of the result and its arrays. The result is
    // scribbled over, as a decoder reuses it, so that nothing can read through it unnoticed.
    std::unique_ptr<RTCM3Message> adopt()
    {
        auto message = RTCM3_adoptRecord(&mResult.header);
        mAdopted = message != nullptr;
        if (mAdopted)
            std::memset(&mResult, 0xAB, sizeof mResult);
        return message;
    }

private:
    _RTCM3_message_t mResult;
    int32_t mBits = 0;
    bool mAdopted = false;
};

} // namespace descriptions
