#include "RinexNavReader.h"

#include <cmath>

namespace Kvt::Gnss {

using Rinex::columns;
using Rinex::trimmed;

namespace {

using Values = std::vector<std::optional<double>>;

constexpr double kUnknownAbove = 0.9e9;  // writers print 0.999999999999E+09 for "not known"
constexpr double kMoscowAheadOfUtcS = 10800.0;

double at(const Values& v, std::size_t i) { return v[i].value_or(0.0); }
int whole(const Values& v, std::size_t i) { return int(std::lround(at(v, i))); }

// A time of week given with its week, moved by a week where it lies more than half a week
// from `near` (a transmission time of the week before the reference time's).
GpsTime nearWeekTime(int32_t week, double tow, const GpsTime& near)
{
    GpsTime t(week, tow);
    if (t - near > kSecondsPerWeek / 2)
        t = GpsTime(week - 1, tow);
    else if (near - t > kSecondsPerWeek / 2)
        t = GpsTime(week + 1, tow);
    return t;
}

// The Kepler elements every system lays out alike over the first five orbit lines.
void fillOrbit(KeplerEphemeris& k, const Values& v)
{
    k.af0 = at(v, 0);
    k.af1 = at(v, 1);
    k.af2 = at(v, 2);
    k.iode = whole(v, 3);
    k.crs = at(v, 4);
    k.deltaN = at(v, 5);
    k.m0 = at(v, 6);
    k.cuc = at(v, 7);
    k.e = at(v, 8);
    k.cus = at(v, 9);
    k.sqrtA = at(v, 10);
    k.cic = at(v, 12);
    k.omega0 = at(v, 13);
    k.cis = at(v, 14);
    k.i0 = at(v, 15);
    k.crc = at(v, 16);
    k.omega = at(v, 17);
    k.omegaDot = at(v, 18);
    k.idot = at(v, 19);
}

KeplerEphemeris kepler(const SatId& sat, const DateTime& epoch, const Values& v)
{
    KeplerEphemeris k;
    k.sat = sat;
    fillOrbit(k, v);
    const int rinexWeek = whole(v, 21);
    const double toe = at(v, 11);
    const double sent = at(v, 27);  // blank is 0: a time like any other
    const bool sentKnown = std::fabs(sent) < kUnknownAbove;
    switch (sat.system) {
    case System::BeiDou:
        // BeiDou records count in BDT, with the BDT week.
        k.messageNumber = 1042;
        k.week = rinexWeek;
        k.toc = GpsTime::fromCalendar(epoch).plusSeconds(kBdtSecondsBehindGps);
        k.toe = GpsTime::fromBdt(rinexWeek, toe);
        if (sentKnown)
            k.transmissionTime = nearWeekTime(k.toe.week, GpsTime::fromBdt(rinexWeek, sent).tow, k.toe);
        k.iodc = whole(v, 28);
        k.tgd2 = at(v, 26);
        break;
    case System::Galileo: {
        k.dataSources = whole(v, 20);
        // I/NAV unless the record names F/NAV alone.
        k.messageNumber = (k.dataSources & 0x5) == 0 && (k.dataSources & 0x2) ? 1045 : 1046;
        k.week = rinexWeek - kGstWeekOffset;
        k.tgd2 = at(v, 26);
        break;
    }
    case System::NavIC:
        k.messageNumber = 1041;
        k.week = rinexWeek - kGstWeekOffset;
        break;
    case System::Qzss:
        k.messageNumber = 1044;
        k.week = rinexWeek;
        k.codesOnL2 = whole(v, 20);
        k.iodc = whole(v, 26);
        k.fitIntervalFlag = whole(v, 28);  // QZSS prints the flag itself
        break;
    default:
        k.messageNumber = 1019;
        k.week = rinexWeek;
        k.codesOnL2 = whole(v, 20);
        k.l2pDataFlag = whole(v, 22);
        k.iodc = whole(v, 26);
        k.fitIntervalFlag = at(v, 28) > 4.0 ? 1 : 0;  // hours: 4 is the normal fit
        break;
    }
    if (sat.system != System::BeiDou) {
        // The others count in GPS time with weeks aligned to GPS weeks.
        k.toc = GpsTime::fromCalendar(epoch);
        k.toe = GpsTime(rinexWeek, toe);
        if (sentKnown)
            k.transmissionTime = nearWeekTime(rinexWeek, sent, k.toe);
    }
    k.accuracyIndex = sat.system == System::Galileo ? sisaIndexOfMetres(at(v, 23)) : uraIndexOfMetres(at(v, 23));
    k.health = whole(v, 24);
    k.tgd1 = at(v, 25);
    return k;
}

GlonassEphemeris glonass(const SatId& sat, const DateTime& utc, const Values& v)
{
    GlonassEphemeris g;
    g.sat = sat;
    g.toe = GpsTime::fromUtc(utc);
    // UTC counted like GPS time, to place the Moscow day and the frame time in it.
    const double utcSeconds = GpsTime::fromCalendar(utc).secondsSinceEpoch();
    const double moscowOfDay = std::fmod(utcSeconds + kMoscowAheadOfUtcS, kSecondsPerDay);
    g.tbIndex = int(std::lround(moscowOfDay / 900.0)) % 96;
    // The frame time: seconds of the UTC day (or week), on the day nearest the reference time.
    double frame = std::floor(utcSeconds / kSecondsPerDay) * kSecondsPerDay + std::fmod(at(v, 2), kSecondsPerDay);
    if (frame - utcSeconds > kSecondsPerDay / 2)
        frame -= kSecondsPerDay;
    else if (utcSeconds - frame > kSecondsPerDay / 2)
        frame += kSecondsPerDay;
    g.frameTime = GpsTime(0, frame).plusSeconds(leapSecondsAt(g.toe));
    g.tauN = -at(v, 0);
    g.gammaN = at(v, 1);
    for (int axis = 0; axis < 3; ++axis) {
        g.positionM[axis] = at(v, 3 + 4 * axis) * 1000.0;
        g.velocityMps[axis] = at(v, 4 + 4 * axis) * 1000.0;
        g.accelerationMps2[axis] = at(v, 5 + 4 * axis) * 1000.0;
    }
    g.health = whole(v, 6);
    g.frequencyChannel = whole(v, 10);
    g.ageDays = whole(v, 14);
    if (v.size() > 15) {
        if (v[15]) {
            const int s = whole(v, 15);
            GlonassEphemeris::Flags f;
            f.p = s & 3;
            f.p1 = s >> 2 & 3;
            f.p2 = s >> 4 & 1;
            f.p3 = s >> 5 & 1;
            f.p4 = s >> 6 & 1;
            f.m = s >> 7 & 3;
            const int h = whole(v, 18);
            f.almanacHealth = h & 1;
            f.almanacHealthAvailable = (h >> 1 & 1) != 0;
            f.ln3 = h >> 2 & 1;
            g.flags = f;
        }
        if (v[16] && *v[16] < kUnknownAbove)
            g.deltaTauNS = v[16];
        if (v[17])
            g.accuracyIndexFt = whole(v, 17);
    }
    return g;
}

} // namespace

int uraIndexOfMetres(double metres)
{
    // The upper end of each index's range.
    static const double bounds[] = {2.4, 3.4, 4.85, 6.85, 9.65, 13.65, 24, 48, 96, 192, 384, 768, 1536, 3072, 6144};
    for (int i = 0; i < 15; ++i)
        if (metres <= bounds[i] * (1 + 1e-9))
            return i;
    return 15;
}

int sisaIndexOfMetres(double metres)
{
    if (metres < 0 || metres > 6.0 * (1 + 1e-9))
        return 255;
    if (metres < 0.495)
        return int(std::lround(metres / 0.01));
    if (metres < 0.99)
        return 50 + int(std::lround((metres - 0.5) / 0.02));
    if (metres < 1.98)
        return 75 + int(std::lround((metres - 1.0) / 0.04));
    return 100 + int(std::lround((metres - 2.0) / 0.16));
}

RinexNavigationReader::RinexNavigationReader(std::istream& in, std::string fileName)
    : mLines(in, std::move(fileName))
{
    readHeader();
}

void RinexNavigationReader::readHeader()
{
    std::string line;
    if (!mLines.read(line))
        mLines.fail(1, "empty file");
    if (trimmed(columns(line, 61, 20)) != "RINEX VERSION / TYPE")
        mLines.fail(61, "the first line must be RINEX VERSION / TYPE");
    mHeader.version = mLines.number(line, 1, 9, "the format version");
    const double v = mHeader.version;
    mVersion2 = v >= 2.0 && v < 3.0;
    if (!(std::fabs(v - 2.11) < 1e-6 || (v >= 3.02 - 1e-6 && v < 3.06)))
        mLines.fail(1, "format version " + trimmed(columns(line, 1, 9)) + " is not read (2.11 and 3.02 to 3.05 are)");
    mHeader.fileType = line.size() > 20 ? line[20] : ' ';
    if (mHeader.fileType != 'N' && !(mVersion2 && mHeader.fileType == 'G'))
        mLines.fail(21, "not a navigation file (type '" + std::string(1, mHeader.fileType) + "')");
    while (mLines.read(line)) {
        const std::string label = trimmed(columns(line, 61, 20));
        if (label == "END OF HEADER")
            return;
        if (label == "LEAP SECONDS")
            mHeader.leapSeconds = mLines.integer(line, 1, 6, "the leap seconds", -100, 100);
    }
    mLines.fail(1, "the header has no END OF HEADER");
}

int RinexNavigationReader::orbitLines(System system) const
{
    if (system == System::Sbas)
        return 3;
    if (system == System::Glonass)
        return mHeader.version >= 3.05 - 1e-6 ? 4 : 3;  // the fourth line came with 3.05
    return 7;
}

bool RinexNavigationReader::mayBeBlank(System system, std::size_t i) const
{
    if (system == System::Sbas || (system == System::Glonass && i >= 15))
        return true;
    if (system == System::Glonass)
        return false;
    if (i >= 29 || i == 22)  // spares (GPS's L2 P flag among them: some writers leave it out)
        return true;
    switch (system) {
    case System::Gps:
    case System::Qzss: return i == 20 || i == 28;  // codes on L2, fit interval
    case System::Galileo: return i == 28;
    case System::BeiDou: return i == 20;
    case System::NavIC: return i == 20 || i == 26 || i == 28;
    default: return false;
    }
}

bool RinexNavigationReader::readRecord(std::string& line, SatId& sat, DateTime& epoch, Values& values)
{
    do {
        if (!mLines.read(line))
            return false;
    } while (trimmed(line).empty());
    int firstValue = 24, orbitValue = 5;
    if (mVersion2) {
        // "12 21  2  5 16  0  0.0": the satellite number, a two-digit year, seconds with a decimal.
        sat.system = mHeader.fileType == 'G' ? System::Glonass : System::Gps;
        sat.number = uint8_t(mLines.integer(line, 1, 2, "the satellite number", 1, 99));
        const int yy = mLines.integer(line, 4, 2, "the year", 0, 99);
        epoch.year = yy < 80 ? 2000 + yy : 1900 + yy;
        epoch.month = mLines.integer(line, 7, 2, "the month", 1, 12);
        epoch.day = mLines.integer(line, 10, 2, "the day", 1, 31);
        epoch.hour = mLines.integer(line, 13, 2, "the hour", 0, 23);
        epoch.minute = mLines.integer(line, 16, 2, "the minute", 0, 59);
        epoch.second = mLines.number(line, 18, 5, "the second");
        firstValue = 23;
        orbitValue = 4;
    } else {
        // "G05 2021 02 05 16 00 00"
        const std::optional<System> system = systemFromLetter(line[0]);
        if (!system)
            mLines.fail(1, "not a satellite: '" + columns(line, 1, 3) + "'");
        sat.system = *system;
        sat.number = uint8_t(mLines.integer(line, 2, 2, "the satellite number", 1, 99));
        epoch.year = mLines.integer(line, 5, 4, "the year", 1980, 2200);
        epoch.month = mLines.integer(line, 10, 2, "the month", 1, 12);
        epoch.day = mLines.integer(line, 13, 2, "the day", 1, 31);
        epoch.hour = mLines.integer(line, 16, 2, "the hour", 0, 23);
        epoch.minute = mLines.integer(line, 19, 2, "the minute", 0, 59);
        epoch.second = mLines.integer(line, 22, 2, "the second", 0, 60);
    }
    if (epoch.second < 0 || epoch.second >= 61)
        mLines.fail(18, "not a second of a minute");
    values.clear();
    const auto take = [&](const std::string& text, int column) {
        const std::size_t index = values.size();
        values.push_back(mLines.optionalNumber(text, column, 19, "an orbit value"));
        if (!values.back() && !mayBeBlank(sat.system, index))
            mLines.fail(column, "missing orbit value " + std::to_string(index + 1) + " of " + sat.toString());
    };
    for (int k = 0; k < 3; ++k)
        take(line, firstValue + 19 * k);
    if (line.size() > std::size_t(firstValue + 56))
        mLines.fail(firstValue + 57, "more than three values on a record's first line");
    const int lines = orbitLines(sat.system);
    for (int n = 0; n < lines; ++n) {
        if (!mLines.read(line))
            mLines.fail(1, "the file ends inside the record of " + sat.toString());
        if (trimmed(columns(line, 1, orbitValue - 1)) != "")
            mLines.fail(1, "an orbit line of " + sat.toString() + " must begin with blanks");
        if (line.size() > std::size_t(orbitValue + 75))
            mLines.fail(orbitValue + 76, "more than four values on an orbit line");
        for (int k = 0; k < 4; ++k)
            take(line, orbitValue + 19 * k);
    }
    return true;
}

bool RinexNavigationReader::next(RinexNavigationRecord& record)
{
    std::string line;
    SatId sat;
    DateTime epoch;
    Values values;
    while (readRecord(line, sat, epoch, values)) {
        if (sat.system == System::Sbas)
            continue;  // no orbit kind of its own here
        if (sat.system == System::Glonass)
            record = glonass(sat, epoch, values);
        else
            record = kepler(sat, epoch, values);
        return true;
    }
    return false;
}

std::vector<RinexNavigationRecord> RinexNavigationReader::readAll(std::istream& in, const std::string& fileName)
{
    RinexNavigationReader reader(in, fileName);
    std::vector<RinexNavigationRecord> all;
    RinexNavigationRecord r;
    while (reader.next(r))
        all.push_back(r);
    return all;
}

} // namespace Kvt::Gnss
