#pragma once
// Which message numbers rtcm3dump passes on: --only and --skip, each a list of numbers and
// ranges ("1005,1071-1077"), given any number of times.

#include "RTCM3_families.h"

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <bitset>

class Selection
{
public:
    static constexpr int kNumbers = int(Kvt::Nuvrix::wire::Frame::Message_Number.highest) + 1;

    // Adds the lists; false with `error` set for an empty list, a word that is not a
    // number or range, a number past the largest or a range that runs backwards.
    bool addOnly(const QStringList &lists, QString *error) { return add(lists, &mOnly, &mHasOnly, error); }
    bool addSkip(const QStringList &lists, QString *error) { return add(lists, &mSkip, nullptr, error); }

    // An empty frame (number -1) has no number to select it by: it passes unless --only
    // asks for particular numbers.
    bool passes(int number) const
    {
        if (number < 0 || number >= kNumbers)
            return !mHasOnly;
        return (!mHasOnly || mOnly.test(size_t(number))) && !mSkip.test(size_t(number));
    }

private:
    static bool add(const QStringList &lists, std::bitset<kNumbers> *numbers, bool *given, QString *error);

    std::bitset<kNumbers> mOnly;
    std::bitset<kNumbers> mSkip;
    bool mHasOnly = false;
};
