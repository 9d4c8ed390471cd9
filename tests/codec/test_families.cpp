// The layouts that message families share: each dispatch hands on exactly the messages of its
// family, each in the record of its own number.

#include "RTCM3_families.h"

#include <gtest/gtest.h>

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

} // namespace
