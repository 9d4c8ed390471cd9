#pragma once
// Shared by the description tests: a fixture that proves every host object built in a test
// is released again, and records of any type built the way a decoder gets them.

#include "nuvrixrtcm3.h"

#include "../support/live_objects.h"

#include "MemLeakTracer.h"
#include "RTCM3_layout.h"

#include <gtest/gtest.h>

#include <QtCore/QLocale>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
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

// ---- records of any type ----------------------------------------------------------------
// Filled from the layout table, so that a new record type of the message list is covered
// without a line here: every scalar gets a value that differs from its neighbours', strings
// and arrays a few elements, groups two elements. Multiple Signal Messages get masks that
// agree with their counts (2 satellites, 2 signals, 3 of 4 cells), since the codec trusts
// the counts it is given.

inline void storeInteger(void *record, std::size_t offset, L::CType type, quint64 value)
{
    quint8 *p = static_cast<quint8 *>(record) + offset;
    switch (type) {
    case L::CType::U8: case L::CType::I8: case L::CType::Char: *p = quint8(value); break;
    case L::CType::U16: case L::CType::I16: { const quint16 v = quint16(value); std::memcpy(p, &v, 2); break; }
    case L::CType::U32: case L::CType::I32: { const quint32 v = quint32(value); std::memcpy(p, &v, 4); break; }
    default: std::memcpy(p, &value, 8); break;
    }
}

inline std::size_t elementSize(L::CType type)
{
    switch (type) {
    case L::CType::U8: case L::CType::I8: case L::CType::Char: return 1;
    case L::CType::U16: case L::CType::I16: return 2;
    case L::CType::U32: case L::CType::I32: case L::CType::F32: return 4;
    default: return 8;
    }
}

class RecordFiller
{
public:
    void fill(const L::RecordLayout &layout, void *record)
    {
        std::set<quint32> preset;
        if (layout.enumerator >= Kvt::Nuvrix::RTCM3_MESSAGE_TYPE_1071
            && layout.enumerator <= Kvt::Nuvrix::RTCM3_MESSAGE_TYPE_1137)
            preset = presetMsm(record);
        const bool message = layout.messageNumber != 0;
        for (quint16 k = message ? 4 : 0; k < layout.fieldCount; ++k) {
            const L::Field &f = layout.fields[k];
            // The sub-type selects the record; the counts are set with what they count.
            if ((message && layout.subtype >= 0 && k == 4) || preset.count(f.offset)
                || isCount(layout, f.offset))
                continue;
            fillField(layout, f, record);
        }
    }

private:
    quint64 next(unsigned width)
    {
        const quint64 value = ++mCounter * 0x9E3779B97F4A7C15ull;
        return width >= 64 ? value : value & ((quint64(1) << width) - 1);
    }

    static bool isCount(const L::RecordLayout &layout, quint32 offset)
    {
        for (quint16 k = 0; k < layout.fieldCount; ++k) {
            const L::Field &f = layout.fields[k];
            if ((f.flags & L::CountIsMember) && f.countType != L::CType::Record
                && f.countOffset == offset)
                return true;
        }
        return false;
    }

    static unsigned countInFather(const L::Field &f, const void *record)
    {
        void *father;
        std::memcpy(&father, static_cast<const quint8 *>(record) + L::kFatherOffset, sizeof father);
        return father ? *(static_cast<const quint8 *>(father) + f.countOffset) : 0;
    }

    void fillField(const L::RecordLayout &layout, const L::Field &f, void *record)
    {
        quint8 *member = static_cast<quint8 *>(record) + f.offset;
        switch (f.kind) {
        case L::Kind::Scalar:
            storeInteger(record, f.offset, f.ctype, next(f.width));
            break;
        case L::Kind::String:
            storeInteger(record, f.countOffset, f.countType, 2);
            std::memcpy(member, "Ab", 3);
            break;
        case L::Kind::Array: {
            unsigned count = 3;
            if (f.flags & L::CountInFather)
                count = countInFather(f, record);
            else
                storeInteger(record, f.countOffset, f.countType, count);
            for (unsigned i = 0; i < count; ++i)
                storeInteger(member, i * elementSize(f.ctype), f.ctype, next(f.width));
            break;
        }
        case L::Kind::Embed:
            fill(*f.sub, member);
            break;
        case L::Kind::Group:
            fillGroup(layout, f, record);
            break;
        case L::Kind::Derived:
            break;
        }
    }

    void fillGroup(const L::RecordLayout &layout, const L::Field &f, void *record)
    {
        if (f.countType == L::CType::Record) {  // a fixed number of elements, freed by the record
            quint8 *elements = static_cast<quint8 *>(std::calloc(f.fixedCount, f.sub->size));
            std::memcpy(static_cast<quint8 *>(record) + f.offset, &elements, sizeof elements);
            for (unsigned i = 0; i < f.fixedCount; ++i) {
                void *element = elements + i * f.sub->size;
                L::initRecord(*f.sub, element);
                std::memcpy(static_cast<quint8 *>(element) + L::kFatherOffset, &record, sizeof record);
                fill(*f.sub, element);
            }
            return;
        }
        for (int i = 0; i < 2; ++i)
            fill(*f.sub, L::appendElement(layout, f, record));
    }

    // Two satellites, two signals, three of the four cells.
    static std::set<quint32> presetMsm(void *record)
    {
        auto *msm = static_cast<Kvt::Nuvrix::RTCM3_Message_Type_1071_s *>(record);
        msm->Satellite_Mask = 0x8000000000000001ull;
        msm->Signal_Mask = 0x80000001u;
        msm->Nsat = 2;
        msm->Nsig = 2;
        msm->Cell_Mask_Length = 4;
        const quint8 cells[] = {1, 1, 0, 1};
        std::memcpy(msm->Cell_Mask, cells, sizeof cells);
        msm->Ncell = 3;
        using Msm = Kvt::Nuvrix::RTCM3_Message_Type_1071_s;
        return {quint32(offsetof(Msm, Satellite_Mask)), quint32(offsetof(Msm, Signal_Mask)),
                quint32(offsetof(Msm, Cell_Mask))};
    }

    quint64 mCounter = 0;
};

// A decode result of the given message enumerator: filled, encoded into a frame and decoded
// from it. Empty (enumerator 0) when encoding or decoding failed.
class DecodedMessage
{
public:
    explicit DecodedMessage(qint32 enumerator)
    {
        const L::RecordLayout *layout = Kvt::Nuvrix::RTCM3_layout(enumerator);
        _RTCM3_message_t built;
        std::memset(&built, 0, sizeof built);
        L::initRecord(*layout, &built);
        RecordFiller().fill(*layout, &built);
        mFrame.resize(1029);
        const int32_t bits = Kvt::Nuvrix::RTCM3_encode_message(mFrame.data(), quint16(mFrame.size()), &built);
        Kvt::Nuvrix::RTCM3_free_message_children(&built);
        std::memset(&mResult, 0, sizeof mResult);
        if (bits <= 0)
            return;
        mFrame.resize(std::size_t(bits) / 8);
        mBits = Kvt::Nuvrix::RTCM3_decode(nullptr, mFrame.data(), quint16(mFrame.size()), &mResult);
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
    std::vector<quint8> mFrame;
    _RTCM3_message_t mResult;
    int32_t mBits = 0;
    bool mAdopted = false;
};

} // namespace descriptions
