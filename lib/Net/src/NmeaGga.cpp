#include "NmeaGga.h"

#include <QtCore/QStringList>

#include <cmath>

namespace {

// Degrees to d..dmm.mmmmm with the minutes rounded once, so that 59.999999' becomes the next
// whole degree instead of "60.00000".
QByteArray degreesMinutes(double degrees, int degreeDigits)
{
    const qint64 units = qRound64(std::fabs(degrees) * 60 * 100000);
    const qint64 perDegree = 60 * 100000;
    return QByteArray::number(units / perDegree).rightJustified(degreeDigits, '0')
        + QByteArray::number(double(units % perDegree) / 100000, 'f', 5).rightJustified(8, '0');
}

quint8 checksum(const QByteArray &body)
{
    quint8 sum = 0;
    for (const char c : body)
        sum ^= quint8(c);
    return sum;
}

} // namespace

GgaPosition GgaPosition::parse(const QString &text, QString *error)
{
    GgaPosition position;
    const QStringList parts = text.split(QLatin1Char(','));
    bool ok[3] = {false, false, false};
    if (parts.size() == 3) {
        position.latitudeDeg = parts[0].trimmed().toDouble(&ok[0]);
        position.longitudeDeg = parts[1].trimmed().toDouble(&ok[1]);
        position.heightM = parts[2].trimmed().toDouble(&ok[2]);
    }
    error->clear();
    if (!ok[0] || !ok[1] || !ok[2])
        *error = QStringLiteral("position must be LAT,LON,HEIGHT in degrees and metres: %1").arg(text);
    else if (!std::isfinite(position.latitudeDeg) || !std::isfinite(position.longitudeDeg)
             || std::fabs(position.latitudeDeg) > 90 || std::fabs(position.longitudeDeg) > 180)
        *error = QStringLiteral("latitude must be within -90..90 and longitude within -180..180: %1").arg(text);
    else if (!std::isfinite(position.heightM) || std::fabs(position.heightM) > 100000)
        *error = QStringLiteral("height must be within -100000..100000 m: %1").arg(text);
    return position;
}

QByteArray ggaSentence(const GgaPosition &position, const QDateTime &utc)
{
    const QTime time = utc.toUTC().time();
    const QByteArray body = "GPGGA," + time.toString(QStringLiteral("hhmmss")).toLatin1() + '.'
        + QByteArray::number(time.msec() / 10).rightJustified(2, '0') + ','
        + degreesMinutes(position.latitudeDeg, 2) + (position.latitudeDeg < 0 ? ",S," : ",N,")
        + degreesMinutes(position.longitudeDeg, 3) + (position.longitudeDeg < 0 ? ",W," : ",E,")
        + "1,12,1.0," + QByteArray::number(position.heightM, 'f', 3) + ",M,0.0,M,,";
    return '$' + body + '*' + QByteArray::number(checksum(body), 16).toUpper().rightJustified(2, '0') + "\r\n";
}
