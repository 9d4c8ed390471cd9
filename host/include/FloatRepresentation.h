#pragma once

#include "nuvrixhost_global.h"

#include <QtCore/QString>

// The host's one way of turning floating values into text, so that every
// format prints them alike.
class NUVRIXHOST_EXPORT FloatRepresentation
{
public:
    // format and precision as for QString::number ('f', 'e', 'g', ...).
    // interpreted: text for a person, in the default QLocale (its decimal
    // point and digit grouping), like the interpreted integers beside it.
    // Otherwise raw text for machines: C locale, '.' and no grouping, so that
    // raw lines read back the same on every system.
    static QString getString(double value, char format, int precision, bool interpreted);
};
