#pragma once
// A caster's source table: what streams it offers (STR), and the casters (CAS) and networks
// (NET) it knows of.

#include "nuvrixntrip_global.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QString>
#include <QtCore/QStringList>

struct NUVRIXNTRIP_EXPORT SourceTableStream
{
    QString mountpoint;
    QString identifier;     // usually the nearest city
    QString format;         // "RTCM 3.3"
    QString formatDetails;  // message types with their periods in s: "1004(1),1006(10)"
    int carrier = 0;        // 0 no phase, 1 L1, 2 L1 and L2
    QString navSystems;     // "GPS+GLO"
    QString network;
    QString country;        // ISO 3166, three letters
    double latitudeDeg = qQNaN();
    double longitudeDeg = qQNaN();
    bool needsPosition = false;  // the caster wants the rover's NMEA GGA
    bool networkSolution = false;
    QString generator;
    QString compression;
    QString authentication;  // N, B, D
    bool fee = false;
    int bitrate = 0;
    QString misc;
};

struct NUVRIXNTRIP_EXPORT SourceTable
{
    QList<SourceTableStream> streams;
    QList<QStringList> casters;   // CAS records, their fields after the type
    QList<QStringList> networks;  // NET records, their fields after the type
    QList<QStringList> records;   // every STR, CAS and NET record in the caster's order, its type first

    // Reads the records up to ENDSOURCETABLE; lines of other kinds and missing fields are
    // tolerated, so a table from any caster gives what it holds.
    static SourceTable parse(const QByteArray &text);
};
