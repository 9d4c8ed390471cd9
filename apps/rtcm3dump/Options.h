#pragma once
// rtcm3dump's command line, checked as a whole before anything is opened.

#include "NtripClient.h"
#include "Printer.h"
#include "RinexOptions.h"
#include "RTCM3_extension.h"
#include "Selection.h"

#include <QtCore/QString>

#include "GnssTime.h"

#include <map>
#include <optional>

class QCoreApplication;

struct Options
{
    QString input;               // empty: standard input or the bundled sample
    Printer::Style style = Printer::Style::Text;
    bool stats = false;
    double everySeconds = 0;     // --stats --every; 0 for a summary at the end only
    Selection selection;
    QString saveFile;
    bool obs = false;            // observations and stations through the engineering view
    RinexChoices rinex;          // --rinex and its options
    std::optional<Kvt::Gnss::GpsTime> timeHint;  // --time
    std::map<int, int> glonassChannels;          // --glonass-channels: slot -> channel
    NtripSettings network;       // --timeout, --reconnect, --ntrip-version, --gga
    Kvt::Nuvrix::RTCM3_ext_context_s extension;  // --bds-ssr-iod8
    bool describe = false;
    int describeNumber = -1;     // -1: every description

    // Handles --help and --version itself. Returns -1 to go on, else the exit status, after
    // a message on standard error for bad usage.
    int parse(const QCoreApplication &app);
};
