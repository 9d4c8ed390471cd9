#pragma once
// Which frames an output passes: a list of message numbers, each with an optional shortest
// interval ("1074,1087,1005(10)": 1005 at most once every 10 s). An empty list passes all.

#include "RelayFrame.h"

#include <QtCore/QHash>
#include <QtCore/QString>

class NUVRIXRELAY_EXPORT MessageFilter
{
public:
    // *error is empty when the text is valid.
    static MessageFilter parse(const QString &text, QString *error);

    // Whether the frame passes at `nowMs` on a monotonic clock; a pass starts its interval.
    bool accept(int type, qint64 nowMs);
    bool passesAll() const { return mRules.isEmpty(); }

private:
    struct Rule
    {
        qint64 intervalMs = 0;
        qint64 lastMs = 0;
        bool seen = false;
    };
    QHash<int, Rule> mRules;
};
