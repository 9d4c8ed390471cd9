#include "RinexNavWriter.h"

#include "RinexFormat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Kvt::Gnss {

namespace {

using Value = std::optional<double>;  // nothing: a blank field
constexpr double kUnknown = 0.999999999999e9;
constexpr int kRtcmGalileoFnav = 1045;

// GPS, QZSS, NavIC and BeiDou user range accuracy in metres from its index: the nominal
// values 2^(1+N/2) rounded to 0.1 m up to N = 6, then 2^(N-2); 15 (8192 m) means no prediction.
double uraMetres(int index)
{
    if (index < 0)
        return 8192.0;
    if (index <= 6)
        return std::round(std::pow(2.0, 1.0 + index / 2.0) * 10.0) / 10.0;
    return std::pow(2.0, std::min(index, 15) - 2.0);
}

// Galileo signal-in-space accuracy in metres from its index; -1 for no accuracy (NAPA).
double sisaMetres(int index)
{
    if (index < 0 || index > 125)
        return -1.0;
    if (index < 50)
        return index * 0.01;
    if (index < 75)
        return 0.5 + (index - 50) * 0.02;
    if (index < 100)
        return 1.0 + (index - 75) * 0.04;
    return 2.0 + (index - 100) * 0.16;
}

// GPS curve fit interval in hours: 4 h, or with the flag set the span the IODC announces.
double gpsFitHours(int flag, int iodc)
{
    if (!flag)
        return 4.0;
    if (iodc >= 240 && iodc <= 247)
        return 8.0;
    if ((iodc >= 248 && iodc <= 255) || iodc == 496)
        return 14.0;
    if ((iodc >= 497 && iodc <= 503) || (iodc >= 1021 && iodc <= 1023))
        return 26.0;
    if (iodc >= 504 && iodc <= 510)
        return 50.0;
    if (iodc == 511 || (iodc >= 752 && iodc <= 756))
        return 74.0;
    if (iodc >= 757 && iodc <= 763)
        return 98.0;
    return 6.0;
}

// Galileo data sources: I/NAV E1-B and E5b with clocks for E5b,E1; F/NAV E5a-I with clocks for E5a,E1.
int galileoSources(const KeplerEphemeris& e)
{
    if (e.dataSources)
        return e.dataSources;
    return e.messageNumber == kRtcmGalileoFnav ? (1 << 1 | 1 << 8) : (1 << 0 | 1 << 2 | 1 << 9);
}

void putValue(std::string& line, const Value& v)
{
    if (!v) {
        Rinex::putBlank(line, 19);
        return;
    }
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%19.12E", *v);
    if (n == 19)
        line.append(text, 19);
    else
        Rinex::putBlank(line, 19);  // NaN or an exponent of three digits: no 19-column form
}

// "G05 2021 02 05 16 00 00" ("05 21  2  5 16  0  0.0" in RINEX 2): the epoch fields of `t` read
// in the scale it already is in.
std::string recordStart(const SatId& sat, const GpsTime& t, bool version2)
{
    const Rinex::EpochFields f = Rinex::splitEpoch(GpsTime(t.week, std::round(t.tow)));
    char text[32];
    if (version2)
        std::snprintf(text, sizeof text, "%2d %02d %2d %2d %2d %2d%5.1f", sat.number % 100, f.year % 100, f.month,
                      f.day, f.hour, f.minute, double(f.secondE7 / 10000000));
    else
        std::snprintf(text, sizeof text, "%s %04d %02d %02d %02d %02d %02d", sat.toString().c_str(), f.year,
                      f.month, f.day, f.hour, f.minute, int(f.secondE7 / 10000000));
    return text;
}

// The record: the start, three clock terms, then orbit lines of four (trailing blanks cut).
// RINEX 2 indents the orbit lines by three and writes the exponent with a D.
std::string record(const std::string& start, const std::vector<Value>& values, bool version2)
{
    std::string out = start;
    for (size_t i = 0; i < 3 && i < values.size(); ++i)
        putValue(out, values[i]);
    out += '\n';
    for (size_t i = 3; i < values.size(); i += 4) {
        std::string line = version2 ? "   " : "    ";
        size_t last = i;
        for (size_t k = i; k < i + 4 && k < values.size(); ++k)
            if (values[k])
                last = k;
        for (size_t k = i; k <= last && k < values.size(); ++k)
            putValue(line, values[k]);
        out += line + '\n';
    }
    if (version2)
        std::replace(out.begin(), out.end(), 'E', 'D');
    return out;
}

} // namespace

RinexNavWriter::RinexNavWriter(std::ostream& out) : mOut(out) {}

void RinexNavWriter::begin(const RinexNavHeader& header)
{
    if (mBegan)
        return;
    mBegan = true;
    mVersion = header.version;
    mSystem = header.system == System::Glonass ? System::Glonass : System::Gps;
    std::string out;
    const auto add = [&out](const std::string& content, const char* label) {
        out += Rinex::headerLine(content, label) + '\n';
    };
    const char* versionAndType = "     3.05           N: GNSS NAV DATA    M: Mixed";
    if (mVersion == RinexVersion::V3_04)
        versionAndType = "     3.04           N: GNSS NAV DATA    M: Mixed";
    else if (mVersion == RinexVersion::V2_11)
        versionAndType = mSystem == System::Glonass ? "     2.11           G: GLONASS NAV DATA"
                                                    : "     2.11           N: GPS NAV DATA";
    out += Rinex::openingLines(versionAndType, header.program, header.runBy, header.creationDate);
    std::string c;
    for (const std::string& comment : header.comments)
        add(comment, "COMMENT");
    if (header.leapSeconds) {
        c.clear();
        Rinex::putI(c, *header.leapSeconds, 6);
        add(c, "LEAP SECONDS");
    }
    add("", "END OF HEADER");
    mOut.write(out.data(), std::streamsize(out.size()));
}

bool RinexNavWriter::firstTime(const Key& key)
{
    if (mSeen.insert(key).second)
        return true;
    ++mDuplicates;
    return false;
}

void RinexNavWriter::writeRecord(const SatId& sat, const GpsTime& epoch, const std::vector<Value>& values)
{
    if (!mBegan)
        begin(RinexNavHeader{});
    const bool version2 = mVersion == RinexVersion::V2_11;
    const std::string text = record(recordStart(sat, epoch, version2), values, version2);
    mOut.write(text.data(), std::streamsize(text.size()));
    ++mWritten;
}

bool RinexNavWriter::write(const KeplerEphemeris& e)
{
    const System sys = e.sat.system;
    if (sys == System::Glonass || sys == System::Sbas || e.sat.number < 1 || e.sat.number > 99)
        return false;
    if (mVersion == RinexVersion::V2_11 && (mSystem != System::Gps || sys != System::Gps))
        return false;
    const bool galileo = sys == System::Galileo;
    const int sources = galileo ? galileoSources(e) : 0;
    // I/NAV and F/NAV of one satellite are separate records.
    const Key key{int(sys), e.sat.number, std::llround(e.toe.secondsSinceEpoch()),
                  std::llround(e.toc.secondsSinceEpoch()), e.iode, e.iodc, galileo ? (sources & 0x3) : 0};
    if (!firstTime(key))
        return false;

    const bool beidou = sys == System::BeiDou;
    // BeiDou records count in BDT; the others in GPS time (Galileo, QZSS and NavIC weeks are
    // aligned with it).
    const double shift = beidou ? -double(kBdtSecondsBehindGps) : 0.0;
    const GpsTime toc = e.toc.plusSeconds(shift);
    const GpsTime toe = e.toe.plusSeconds(shift);
    const Value transmitted = e.transmissionTime ? Value(e.transmissionTime->plusSeconds(shift).tow) : Value(kUnknown);

    std::vector<Value> v = {e.af0, e.af1, e.af2,
                            double(e.iode), e.crs, e.deltaN, e.m0,
                            e.cuc, e.e, e.cus, e.sqrtA,
                            toe.tow, e.cic, e.omega0, e.cis,
                            e.i0, e.crc, e.omega, e.omegaDot};
    const double week = double(beidou ? toe.week - kBdtWeekOffset : toe.week);
    switch (sys) {
    case System::Gps:
        v.insert(v.end(), {e.idot, double(e.codesOnL2), week, double(e.l2pDataFlag),
                           uraMetres(e.accuracyIndex), double(e.health), e.tgd1, double(e.iodc),
                           transmitted, gpsFitHours(e.fitIntervalFlag, e.iodc)});
        break;
    case System::Qzss:
        // QZSS sends no L2 P code: its flag is always 1.
        v.insert(v.end(), {e.idot, double(e.codesOnL2), week, 1.0,
                           uraMetres(e.accuracyIndex), double(e.health), e.tgd1, double(e.iodc),
                           transmitted, double(e.fitIntervalFlag)});
        break;
    case System::Galileo:
        v.insert(v.end(), {e.idot, double(sources), week, Value(),
                           sisaMetres(e.accuracyIndex), double(e.health), e.tgd1, e.tgd2,
                           transmitted});
        break;
    case System::BeiDou:
        v.insert(v.end(), {e.idot, Value(), week, Value(),
                           uraMetres(e.accuracyIndex), double(e.health), e.tgd1, e.tgd2,
                           transmitted, double(e.iodc)});
        break;
    case System::NavIC:
        v.insert(v.end(), {e.idot, Value(), week, Value(),
                           uraMetres(e.accuracyIndex), double(e.health), e.tgd1, Value(),
                           transmitted});
        break;
    default:
        return false;
    }
    writeRecord(e.sat, toc, v);
    return true;
}

bool RinexNavWriter::write(const GlonassEphemeris& e)
{
    if (e.sat.system != System::Glonass || e.sat.number < 1 || e.sat.number > 99
        || (mVersion == RinexVersion::V2_11 && mSystem != System::Glonass))
        return false;
    if (!firstTime(Key{int(System::Glonass), e.sat.number, std::llround(e.toe.secondsSinceEpoch()), 0, 0, 0, 0}))
        return false;
    // GLONASS records count in UTC: the epoch is tb, the frame time tk in seconds of the UTC week.
    const GpsTime tocUtc = e.toe.plusSeconds(-leapSecondsAt(e.toe));
    const GpsTime frameUtc = e.frameTime.plusSeconds(-leapSecondsAt(e.frameTime));
    const auto km = [](double m) { return m / 1000.0; };
    Value status, health;
    if (e.flags) {
        const GlonassEphemeris::Flags& f = *e.flags;
        status = double((f.p & 3) | (f.p1 & 3) << 2 | (f.p2 & 1) << 4 | (f.p3 & 1) << 5 | (f.p4 & 1) << 6
                        | (f.m & 3) << 7);
        health = double((f.almanacHealth & 1) | int(f.almanacHealthAvailable) << 1 | (f.ln3 & 1) << 2);
    }
    std::vector<Value> v = {
        -e.tauN, e.gammaN, std::round(frameUtc.tow),
        km(e.positionM[0]), km(e.velocityMps[0]), km(e.accelerationMps2[0]), double(e.health),
        km(e.positionM[1]), km(e.velocityMps[1]), km(e.accelerationMps2[1]), double(e.frequencyChannel),
        km(e.positionM[2]), km(e.velocityMps[2]), km(e.accelerationMps2[2]), double(e.ageDays),
        status, e.deltaTauNS.value_or(kUnknown), double(e.accuracyIndexFt.value_or(15)), health,
    };
    if (mVersion != RinexVersion::V3_05)
        v.resize(15);  // the fourth orbit line came with 3.05
    writeRecord(e.sat, tocUtc, v);
    return true;
}

} // namespace Kvt::Gnss
