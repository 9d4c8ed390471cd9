#pragma once
// rtcm3dump's RINEX options: declared on the parser, read into RinexConverterOptions. Defined
// in GnssOutputs.cpp.

#include "RinexConverter.h"

#include <QtCore/QCommandLineOption>
#include <QtCore/QList>
#include <QtCore/QString>

#include <cstdint>
#include <optional>
#include <vector>

class QCommandLineParser;

struct RinexChoices
{
    QString directory;                   // empty: no RINEX
    Kvt::Gnss::RinexConverterOptions converter;
    std::optional<uint16_t> station;     // --station: only this one
    QString onClose;                     // --on-close: a command run on each file written

    // The options, to add to the parser; read() takes them back.
    static QList<QCommandLineOption> options();
    // Reads the options; an error text for bad usage, else empty.
    QString read(const QCommandLineParser &parser);
};
