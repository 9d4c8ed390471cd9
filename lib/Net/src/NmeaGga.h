#pragma once
// The NMEA GGA sentence a rover sends so that a network caster can compute corrections for
// where it stands.

#include "nuvrixntrip_global.h"

#include <QtCore/QByteArray>
#include <QtCore/QDateTime>
#include <QtCore/QString>

struct NUVRIXNTRIP_EXPORT GgaPosition
{
    double latitudeDeg = 0;   // north positive, -90..90
    double longitudeDeg = 0;  // east positive, -180..180
    double heightM = 0;

    // "LAT,LON,HEIGHT" in degrees and metres; *error is empty when the text is valid.
    static GgaPosition parse(const QString &text, QString *error);
};

// $GPGGA,hhmmss.ss,ddmm.mmmmm,N,dddmm.mmmmm,E,1,12,1.0,H,M,0.0,M,,*CS followed by CR LF, with a
// GPS fix quality so that casters accept it.
NUVRIXNTRIP_EXPORT QByteArray ggaSentence(const GgaPosition &position, const QDateTime &utc);
