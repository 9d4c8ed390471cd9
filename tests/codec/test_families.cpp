// The layouts that message families share: each dispatch hands on exactly the messages of its
// family, each in the record of its own number.

#include "RTCM3_families.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>

using namespace Kvt::Nuvrix;

namespace {

using Visit = std::function<bool(int, _RTCM3_message_t&, int&)>;

template <typename F>
Visit visitor(F visit)
{
    // The record handed on is initialised in its own type: its number is the one it was asked for.
    return [visit](int number, _RTCM3_message_t& m, int& seen) {
        return visit(number, m, [&](auto& r) {
            family::init(&r);
            seen = r.Message_Number;
        });
    };
}

std::set<int> range(int first, int last, bool msm = false)
{
    std::set<int> s;
    for (int n = first; n <= last; ++n)
        if (!msm || (n % 10 >= 1 && n % 10 <= 7))
            s.insert(n);
    return s;
}

TEST(Families, EachDispatchTakesItsMessagesInTheirOwnRecords)
{
    struct Row { const char* name; Visit visit; std::set<int> numbers; };
    const Row rows[] = {
        {"Msm", visitor([](int n, auto& m, auto&& f) { return family::visitMsm(n, m, f); }), range(1071, 1137, true)},
        {"LegacyObservables", visitor([](int n, auto& m, auto&& f) { return family::visitLegacyObservables(n, m, f); }),
         {1001, 1002, 1003, 1004, 1009, 1010, 1011, 1012}},
        {"StationPosition", visitor([](int n, auto& m, auto&& f) { return family::visitStationPosition(n, m, f); }),
         {1005, 1006}},
        {"AntennaDescriptors", visitor([](int n, auto& m, auto&& f) { return family::visitAntennaDescriptors(n, m, f); }),
         {1007, 1008, 1033}},
        {"GalileoOrbit", visitor([](int n, auto& m, auto&& f) { return family::visitGalileoOrbit(n, m, f); }),
         {1045, 1046}},
    };
    for (const Row& row : rows)
        for (int number = 0; number < 4096; ++number) {
            _RTCM3_message_t m;
            std::memset(&m, 0, sizeof m);
            int seen = -1;
            const bool taken = row.visit(number, m, seen);
            ASSERT_EQ(taken, row.numbers.count(number) == 1) << row.name << " " << number;
            if (taken) {
                EXPECT_EQ(seen, number) << row.name;
                EXPECT_EQ(family::messageNumber(m), number) << row.name;
            }
        }
}

// The payload sizes the list gives an observation message are what the encoder writes: a frame
// of its counts holds the frame header, the fixed and counted bits padded to bytes, the CRC.
TEST(Families, PayloadSizesAreWhatTheEncoderWrites)
{
    struct Counts { int nsat, nsig, ncell; };
    const Counts rows[] = {{1, 1, 1}, {3, 2, 5}, {5, 3, 14}, {7, 4, 19}};
    auto frameBits = [](int payload) { return wire::Frame::headerBits + (payload + 7) / 8 * 8 + wire::Frame::crcBits; };
    for (const Counts& c : rows)
        for (int number = 1001; number < 1140; ++number) {
            _RTCM3_message_t m;
            std::memset(&m, 0, sizeof m);
            int expected = -1;
            family::visitMsm(number, m, [&](auto& r) {
                using Bits = wire::Bits<std::decay_t<decltype(r)>>;
                family::init(&r);
                r.Satellite_Mask = ~uint64_t(0) << (64 - c.nsat);
                r.Signal_Mask = ~uint32_t(0) << (32 - c.nsig);
                r.Nsat = uint8_t(c.nsat), r.Nsig = uint8_t(c.nsig), r.Ncell = uint8_t(c.ncell);
                r.Cell_Mask_Length = uint8_t(c.nsat * c.nsig);
                std::fill(r.Cell_Mask, r.Cell_Mask + c.ncell, 1);
                expected = frameBits(Bits::fixed + c.nsat * (c.nsig * Bits::Cell_Mask_Length + Bits::Nsat) + c.ncell * Bits::Ncell);
            });
            family::visitLegacyObservables(number, m, [&](auto& r) {
                family::init(&r);
                for (int i = 0; i < c.nsat; ++i)
                    family::append(&r);
                using Bits = wire::Bits<std::decay_t<decltype(r)>>;
                expected = frameBits(Bits::fixed + c.nsat * Bits::Nr_Of_Satellites);
            });
            if (expected < 0)
                continue;
            uint8_t frame[wire::Frame::maxBytes];
            EXPECT_EQ(RTCM3_encode_message(frame, sizeof frame, &m), expected) << number << " with " << c.nsat << " satellites";
            RTCM3_free_message_children(&m);
        }
}

} // namespace
