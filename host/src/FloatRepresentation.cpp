#include "FloatRepresentation.h"

#include <QtCore/QLocale>

QString FloatRepresentation::getString(double value, char format, int precision, bool interpreted)
{
    if (interpreted)
        return QLocale().toString(value, format, precision);
    return QString::number(value, format, precision);
}
