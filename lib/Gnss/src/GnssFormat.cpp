#include "GnssFormat.h"

#include "TextEscape.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace Kvt::Gnss {

namespace {

void appendInt(std::string& out, long long value)
{
    char text[24];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

void appendKey(std::string& out, const char* prefix, const SignalCode& code)
{
    // Composed first and appended once: every observable of every epoch has a key.
    char text[16];
    std::size_t n = 0;
    text[n++] = '"';
    for (; *prefix && n < sizeof text - 4; ++prefix)
        text[n++] = *prefix;
    text[n++] = code.band;
    text[n++] = code.attribute;
    text[n++] = '"';
    out.append(text, n);
    out += ':';
}

// printf into the string.
template <typename... Args>
void appendf(std::string& out, const char* format, Args... args)
{
    char text[160];
    const int n = std::snprintf(text, sizeof text, format, args...);
    if (n > 0)
        out.append(text, std::size_t(n) < sizeof text ? std::size_t(n) : sizeof text - 1);
}

// What printf's "%*.*f" gives in the C locale, without its locale and format parsing: the
// column runs for every observable of every epoch.
void appendFixed(std::string& out, double value, int width, int precision)
{
    char text[400];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
    const auto length = std::size_t(r.ptr - text);
    if (length < std::size_t(width))
        out.append(std::size_t(width) - length, ' ');
    out.append(text, length);
}

// A blank and the value in width characters, or as many blanks when there is none.
void appendColumn(std::string& out, const std::optional<double>& v, int width, int precision)
{
    if (v) {
        out += ' ';
        appendFixed(out, *v, width - 1, precision);
    } else {
        out.append(std::size_t(width), ' ');
    }
}

} // namespace

void appendJsonNumber(std::string& out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // In thousandths as an integer, then its digits: the shortest form of a number of three
    // decimals at most is its digits without trailing zeros.
    const double scaled = std::round(value * 1000.0);
    if (std::fabs(scaled) >= 9e15) {
        char text[400];
        const auto r = std::to_chars(text, text + sizeof text, scaled / 1000.0, std::chars_format::fixed);
        out.append(text, r.ptr);
        if (std::string_view(text, std::size_t(r.ptr - text)).find('.') == std::string_view::npos)
            out += ".0";
        return;
    }
    long long thousandths = static_cast<long long>(scaled);
    // Composed in one buffer and appended once: the column runs for every observable.
    char text[32];
    char* at = text;
    if (thousandths < 0) {
        *at++ = '-';
        thousandths = -thousandths;
    }
    at = std::to_chars(at, text + sizeof text - 4, thousandths / 1000).ptr;
    const int fraction = int(thousandths % 1000);
    at[0] = '.';
    at[1] = char('0' + fraction / 100);
    at[2] = char('0' + fraction / 10 % 10);
    at[3] = char('0' + fraction % 10);
    int length = 4;
    while (length > 2 && at[length - 1] == '0')
        --length;
    out.append(text, std::size_t(at + length - text));
}

void appendJsonString(std::string& out, std::string_view bytes) { Text::appendJsonString(out, bytes); }

void appendEpochJson(std::string& out, const ObservationEpoch& epoch)
{
    out += "{\"station\":";
    appendInt(out, epoch.stationId);
    out += ",\"time\":\"";
    out += epoch.time.isoText().data();
    out += "\",\"week\":";
    appendInt(out, epoch.time.week);
    out += ",\"tow\":";
    appendJsonNumber(out, epoch.time.tow);
    out += ",\"sats\":{";
    bool firstSat = true;
    for (const SatelliteObservations& s : epoch.satellites) {
        if (!firstSat)
            out += ',';
        firstSat = false;
        out += '"';
        out += systemLetter(s.sat.system);
        out += char('0' + s.sat.number / 10 % 10);
        out += char('0' + s.sat.number % 10);
        out += "\":{";
        bool first = true;
        auto value = [&](const char* prefix, const SignalCode& code, double v) {
            if (!first)
                out += ',';
            first = false;
            appendKey(out, prefix, code);
            appendJsonNumber(out, v);
        };
        for (const Observation& o : s.observations) {
            if (o.pseudorangeM) value("C", o.code, *o.pseudorangeM);
            if (o.phaseCycles) value("L", o.code, *o.phaseCycles);
            if (o.dopplerHz) value("D", o.code, *o.dopplerHz);
            if (o.cn0DbHz) value("S", o.code, *o.cn0DbHz);
        }
        for (const Observation& o : s.observations) {
            if (o.lockTimeS)
                value("lock", o.code, *o.lockTimeS);
            if (o.halfCycleAmbiguity) {
                if (!first)
                    out += ',';
                first = false;
                appendKey(out, "half", o.code);
                out += "true";
            }
        }
        if (s.glonassChannel) {
            if (!first)
                out += ',';
            out += "\"fcn\":";
            appendInt(out, *s.glonassChannel);
        }
        out += '}';
    }
    out += "}}\n";
}

void appendStationPositionJson(std::string& out, const StationPosition& p)
{
    const Geodetic g = p.geodetic();
    out += "{\"station\":";
    appendInt(out, p.stationId);
    out += ",\"ecef\":[";
    appendJsonNumber(out, p.ecef.x);
    out += ',';
    appendJsonNumber(out, p.ecef.y);
    out += ',';
    appendJsonNumber(out, p.ecef.z);
    // Degrees to 1e-9 (0.1 mm on the ground): the millimetre rounding of the others is too coarse.
    appendf(out, "],\"llh\":[%.9f,%.9f,", g.latitudeDeg, g.longitudeDeg);
    appendJsonNumber(out, g.heightM);
    out += ']';
    if (p.antennaHeightM) {
        out += ",\"height\":";
        appendJsonNumber(out, *p.antennaHeightM);
    }
    out += "}\n";
}

void appendStationDescriptionJson(std::string& out, const StationDescription& d)
{
    out += "{\"station\":";
    appendInt(out, d.stationId);
    out += ",\"antenna\":";
    appendJsonString(out, d.antennaDescriptor);
    out += ",\"setup\":";
    appendInt(out, d.antennaSetupId);
    out += ",\"antennaSerial\":";
    appendJsonString(out, d.antennaSerialNumber);
    out += ",\"receiver\":";
    appendJsonString(out, d.receiverDescriptor);
    out += ",\"firmware\":";
    appendJsonString(out, d.receiverFirmwareVersion);
    out += ",\"receiverSerial\":";
    appendJsonString(out, d.receiverSerialNumber);
    out += "}\n";
}

void appendStationTextJson(std::string& out, const StationText& t)
{
    out += "{\"station\":";
    appendInt(out, t.stationId);
    out += ",\"time\":\"";
    out += t.time.isoText().data();
    out += "\",\"text\":";
    appendJsonString(out, t.text);
    out += "}\n";
}

namespace {

// Ephemeris terms span twenty decades: exponent form with all the digits a double keeps.
void appendScientific(std::string& out, const char* key, double value)
{
    out += ",\"";
    out += key;
    out += "\":";
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, value);
    out.append(text, r.ptr);
}

void appendTime(std::string& out, const char* key, const GpsTime& t)
{
    out += ",\"";
    out += key;
    out += "\":\"";
    out += t.isoText().data();
    out += '"';
}

void appendIntKey(std::string& out, const char* key, long long value)
{
    out += ",\"";
    out += key;
    out += "\":";
    appendInt(out, value);
}

// Text for a person between quotes: bytes a terminal would act on, and the quote, escaped.
void appendPrintable(std::string& out, std::string_view bytes) { Text::appendEscaped(out, bytes, '"'); }

} // namespace

void appendKeplerJson(std::string& out, const KeplerEphemeris& k)
{
    out += "{\"sat\":\"";
    out += k.sat.toString();
    out += '"';
    appendIntKey(out, "message", k.messageNumber);
    appendIntKey(out, "week", k.week);
    appendTime(out, "toc", k.toc);
    appendTime(out, "toe", k.toe);
    const std::pair<const char*, double> terms[] = {
        {"af0", k.af0}, {"af1", k.af1}, {"af2", k.af2}, {"crs", k.crs}, {"crc", k.crc},
        {"cuc", k.cuc}, {"cus", k.cus}, {"cic", k.cic}, {"cis", k.cis}, {"deltaN", k.deltaN},
        {"m0", k.m0}, {"omega0", k.omega0}, {"i0", k.i0}, {"omega", k.omega},
        {"omegaDot", k.omegaDot}, {"idot", k.idot}, {"e", k.e}, {"sqrtA", k.sqrtA},
        {"tgd1", k.tgd1}, {"tgd2", k.tgd2}};
    for (const auto& [key, value] : terms)
        appendScientific(out, key, value);
    appendIntKey(out, "iode", k.iode);
    appendIntKey(out, "iodc", k.iodc);
    appendIntKey(out, "health", k.health);
    appendIntKey(out, "accuracy", k.accuracyIndex);
    out += "}\n";
}

void appendGlonassJson(std::string& out, const GlonassEphemeris& g)
{
    out += "{\"sat\":\"";
    out += g.sat.toString();
    out += '"';
    appendIntKey(out, "channel", g.frequencyChannel);
    appendTime(out, "toe", g.toe);
    appendTime(out, "tk", g.frameTime);
    appendScientific(out, "tauN", g.tauN);
    appendScientific(out, "gammaN", g.gammaN);
    const std::pair<const char*, const std::array<double, 3>*> vectors[] = {
        {"pos", &g.positionM}, {"vel", &g.velocityMps}, {"acc", &g.accelerationMps2}};
    for (const auto& [key, v] : vectors) {
        out += ",\"";
        out += key;
        out += "\":[";
        for (int i = 0; i < 3; ++i) {
            if (i)
                out += ',';
            char text[32];
            const auto r = std::to_chars(text, text + sizeof text, (*v)[std::size_t(i)]);
            out.append(text, r.ptr);
        }
        out += ']';
    }
    appendIntKey(out, "health", g.health);
    appendIntKey(out, "age", g.ageDays);
    out += "}\n";
}

void appendGlonassBiasesJson(std::string& out, const GlonassBiases& b)
{
    out += "{\"station\":";
    appendInt(out, b.stationId);
    out += ",\"aligned\":";
    out += b.aligned ? "true" : "false";
    const std::pair<const char*, const std::optional<double>*> biases[] = {
        {"L1CA", &b.l1ca}, {"L1P", &b.l1p}, {"L2CA", &b.l2ca}, {"L2P", &b.l2p}};
    for (const auto& [key, v] : biases)
        if (*v) {
            out += ",\"";
            out += key;
            out += "\":";
            appendJsonNumber(out, **v);
        }
    out += "}\n";
}

void appendEpochText(std::string& out, const ObservationEpoch& epoch)
{
    const auto iso = epoch.time.isoText();
    appendf(out, "%.10s %s GPST  week %d  tow %.3f  station %u  satellites %zu\n", iso.data(),
            iso.data() + 11, int(epoch.time.week), epoch.time.tow, unsigned(epoch.stationId),
            epoch.satellites.size());
    for (const SatelliteObservations& s : epoch.satellites) {
        const std::string sat = s.sat.toString();
        for (const Observation& o : s.observations) {
            out += "  ";
            out += sat;
            out += ' ';
            out += o.code.band;
            out += o.code.attribute;
            out += ' ';
            appendColumn(out, o.pseudorangeM, 15, 3);
            appendColumn(out, o.phaseCycles, 16, 3);
            appendColumn(out, o.dopplerHz, 12, 3);
            appendColumn(out, o.cn0DbHz, 7, 2);
            appendColumn(out, o.lockTimeS, 11, 3);
            if (o.halfCycleAmbiguity)
                out += " half";
            while (!out.empty() && out.back() == ' ')
                out.pop_back();
            out += '\n';
        }
    }
}

void appendStationPositionText(std::string& out, const StationPosition& p)
{
    const Geodetic g = p.geodetic();
    appendf(out, "station %u%s  ECEF %.4f %.4f %.4f m  lat %.9f lon %.9f deg  height %.4f m",
            unsigned(p.stationId), p.virtualStation ? " (virtual)" : "", p.ecef.x, p.ecef.y, p.ecef.z,
            g.latitudeDeg, g.longitudeDeg, g.heightM);
    if (p.antennaHeightM)
        appendf(out, "  antenna height %.4f m", *p.antennaHeightM);
    out += '\n';
}

void appendStationDescriptionText(std::string& out, const StationDescription& d)
{
    appendf(out, "station %u  antenna \"", unsigned(d.stationId));
    appendPrintable(out, d.antennaDescriptor);
    appendf(out, "\" setup %d", d.antennaSetupId);
    const std::pair<const char*, const std::string*> parts[] = {
        {"  serial \"", &d.antennaSerialNumber}, {"  receiver \"", &d.receiverDescriptor},
        {"  firmware \"", &d.receiverFirmwareVersion}, {"  serial \"", &d.receiverSerialNumber}};
    for (const auto& [label, text] : parts)
        if (!text->empty()) {
            out += label;
            appendPrintable(out, *text);
            out += '"';
        }
    out += '\n';
}

void appendStationTextText(std::string& out, const StationText& t)
{
    const auto iso = t.time.isoText();
    appendf(out, "station %u  %.10s %s GPST  text \"", unsigned(t.stationId), iso.data(), iso.data() + 11);
    appendPrintable(out, t.text);
    out += "\"\n";
}

std::optional<GpsTime> parseTimeHint(std::string_view text)
{
    auto number = [&](std::size_t at, std::size_t width, int lo, int hi) -> std::optional<int> {
        if (at + width > text.size())
            return std::nullopt;
        int v = 0;
        const auto r = std::from_chars(text.data() + at, text.data() + at + width, v);
        if (r.ec != std::errc() || r.ptr != text.data() + at + width || v < lo || v > hi)
            return std::nullopt;
        return v;
    };
    if (text.size() != 10 && text.size() != 19)
        return std::nullopt;
    const auto y = number(0, 4, 1980, 9999), mo = number(5, 2, 1, 12), d = number(8, 2, 1, 31);
    if (!y || !mo || !d || text[4] != '-' || text[7] != '-')
        return std::nullopt;
    DateTime t{*y, *mo, *d, 12, 0, 0.0};
    if (text.size() == 19) {
        const auto h = number(11, 2, 0, 23), mi = number(14, 2, 0, 59), s = number(17, 2, 0, 59);
        if (!h || !mi || !s || (text[10] != 'T' && text[10] != ' ') || text[13] != ':' || text[16] != ':')
            return std::nullopt;
        t.hour = *h;
        t.minute = *mi;
        t.second = *s;
    }
    // A day the month does not have (February 30th) is not a date.
    const GpsTime g = GpsTime::fromCalendar(t);
    if (g.toCalendar().day != *d)
        return std::nullopt;
    return g;
}

} // namespace Kvt::Gnss
