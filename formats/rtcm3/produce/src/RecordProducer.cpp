#include "RecordProducer.h"

#include "RTCM3_families.h"
#include "RTCM3_reflect.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace Kvt::Nuvrix::Produce {

using namespace Gnss;

namespace {

constexpr int kMjdOfGpsEpoch = 44244;  // 1980-01-06
constexpr double kMoscowAheadOfUtcS = 3 * 3600.0;

// Writes values into the members of one record at the list's scales, and remembers the first
// that does not fit its member.
class Fields {
public:
    explicit Fields(int messageNumber) : mNumber(messageNumber) {}

    template <typename T>
    void raw(T& member, double value, const char* field)
    {
        const double q = std::round(value);
        if (!(q >= double(std::numeric_limits<T>::min()) && q <= double(std::numeric_limits<T>::max()))) {
            fail(field);
            return;
        }
        member = T(q);
    }
    // The low bits of a value that its field holds (a week modulo the field's weeks).
    template <typename T>
    static void wrap(T& member, int64_t value, const wire::Field& field)
    {
        member = T(value & field.highest);
    }
    // A physical value at the member's scale.
    template <typename T>
    void scaled(T& member, double value, const units::Physical& unit, const char* field)
    {
        raw(member, value / unit.scale + double(unit.zero), field);
    }
    // A sign bit and a magnitude at its scale; the value in the unit of the joined member
    // (`valueScale` per unit of the magnitude's scale).
    template <typename S, typename M>
    void signMagnitude(S& sign, M& magnitude, double value, const units::Physical& magnitudeUnit,
                       double valueScale, const char* magnitudeField)
    {
        sign = std::signbit(value) ? 1 : 0;
        scaled(magnitude, std::fabs(value) / valueScale, magnitudeUnit, magnitudeField);
    }
    void fail(const char* field)
    {
        if (mBad.empty())
            mBad = field;
    }
    int number() const { return mNumber; }
    const std::string& bad() const { return mBad; }

private:
    int mNumber;
    std::string mBad;
};

// The physical meaning of a record's members, by the record's type.
template <typename Record>
constexpr units::Of<Record> unitsOf(const Record&)
{
    return {};
}

struct ValueList : reflect::Visitor {
    FieldValues values;
    void value(const reflect::Field& f, reflect::Number n) override
    {
        if (f.kind != reflect::Kind::Derived)
            values.emplace_back(std::string(f.name), reflect::toDouble(n));
    }
    void array(const reflect::Field&, const void*, uint32_t) override {}
    void string(const reflect::Field& f, std::string_view text) override
    {
        values.emplace_back(std::string(f.name) + "=" + std::string(text), 1.0);
    }
    void beginEmbed(const reflect::Field&) override {}
    void endEmbed(const reflect::Field&) override {}
    void beginGroup(const reflect::Field&, uint32_t) override {}
    void beginElement(const reflect::Field&, uint32_t) override {}
    void endElement(const reflect::Field&, uint32_t) override {}
    void endGroup(const reflect::Field&) override {}
};

// Encodes a record; the frame only if every value survives the wire (a member wider than its
// field would otherwise lose its high bits silently).
std::optional<Frame> seal(_RTCM3_message_t& record, const Fields& fields, std::string* why)
{
    auto refuse = [&](const std::string& field) -> std::optional<Frame> {
        if (why)
            *why = std::to_string(fields.number()) + ": " + field + " out of range";
        return std::nullopt;
    };
    if (!fields.bad().empty())
        return refuse(fields.bad());
    Frame frame(wire::Frame::maxBytes);
    const int32_t bits = RTCM3_encode_message(frame.data(), uint16_t(frame.size()), &record);
    if (bits <= 0)
        return refuse("encoding");
    frame.resize(std::size_t(bits) / 8);
    _RTCM3_message_t back;
    const int32_t read = RTCM3_decode(nullptr, frame.data(), uint16_t(frame.size()), &back);
    const FieldValues sent = fieldValues(record);
    const FieldValues received = read > 0 ? fieldValues(back) : FieldValues();
    RTCM3_free_message_children(&back);
    for (std::size_t i = 0; i < sent.size(); ++i)
        if (i >= received.size() || sent[i] != received[i])
            return refuse(sent[i].first);
    return frame;
}

std::optional<Frame> seal(_RTCM3_message_t& record, const Fields& fields) { return seal(record, fields, nullptr); }

} // namespace

FieldValues fieldValues(const _RTCM3_message_t& record)
{
    ValueList list;
    reflect::walkMessage(record, list);
    return list.values;
}

namespace {

// The orbit terms GPS, QZSS, NavIC, BeiDou and Galileo share, at each message's scales.
template <typename R>
void putOrbit(Fields& f, R& r, const KeplerEphemeris& k)
{
    f.scaled(r.C_rs, k.crs, unitsOf(r).C_rs, "C_rs");
    f.scaled(r.C_rc, k.crc, unitsOf(r).C_rc, "C_rc");
    f.scaled(r.C_uc, k.cuc, unitsOf(r).C_uc, "C_uc");
    f.scaled(r.C_us, k.cus, unitsOf(r).C_us, "C_us");
    f.scaled(r.C_ic, k.cic, unitsOf(r).C_ic, "C_ic");
    f.scaled(r.C_is, k.cis, unitsOf(r).C_is, "C_is");
    f.scaled(r.M_0, k.m0, unitsOf(r).M_0, "M_0");
    f.scaled(r.e, k.e, unitsOf(r).e, "e");
    f.scaled(r.SQRT_A, k.sqrtA, unitsOf(r).SQRT_A, "SQRT_A");
    f.scaled(r.OMEGA_0, k.omega0, unitsOf(r).OMEGA_0, "OMEGA_0");
    f.scaled(r.i_0, k.i0, unitsOf(r).i_0, "i_0");
    f.scaled(r.omega, k.omega, unitsOf(r).omega, "omega");
    f.scaled(r.Delta_n, k.deltaN, unitsOf(r).Delta_n, "Delta_n");
    f.scaled(r.OMEGADOT, k.omegaDot, unitsOf(r).OMEGADOT, "OMEGADOT");
}

// GPS (1019) and QZSS (1044): the same ephemeris, a few names apart.
template <typename R>
void putGpsLike(Fields& f, R& r, const KeplerEphemeris& k)
{
    f.raw(r.Satellite_ID, k.sat.number, "Satellite_ID");
    f.wrap(r.Week_Number, k.week, wire::Of<R>::Week_Number);
    f.scaled(r.t_oc, k.toc.tow, unitsOf(r).t_oc, "t_oc");
    f.scaled(r.t_oe, k.toe.tow, unitsOf(r).t_oe, "t_oe");
    f.scaled(r.a_f0, k.af0, unitsOf(r).a_f0, "a_f0");
    f.scaled(r.a_f1, k.af1, unitsOf(r).a_f1, "a_f1");
    f.scaled(r.a_f2, k.af2, unitsOf(r).a_f2, "a_f2");
    putOrbit(f, r, k);
    f.raw(r.IODE, k.iode, "IODE");
    f.raw(r.IODC, k.iodc, "IODC");
    f.scaled(r.T_gd, k.tgd1, unitsOf(r).T_gd, "T_gd");
    f.raw(r.SV_Health, k.health, "SV_Health");
    f.raw(r.Code_On_L2, k.codesOnL2, "Code_On_L2");
    f.raw(r.Fit_Interval, k.fitIntervalFlag, "Fit_Interval");
}

template <typename R>
void putGalileoHealth(R& r, const KeplerEphemeris& k, Fields& f)
{
    if constexpr (std::is_same_v<R, RTCM3_Message_Type_1045_s>) {
        r.E5a_HS = uint8_t(k.health >> 4 & 3);
        r.E5a_DVS = uint8_t(k.health >> 3 & 1);
    } else {
        f.scaled(r.BGD_E1_E5b, k.tgd2, unitsOf(r).BGD_E1_E5b, "BGD_E1_E5b");
        r.E5b_HS = uint8_t(k.health >> 7 & 3);
        r.E5b_DVS = uint8_t(k.health >> 6 & 1);
        r.E1_B_HS = uint8_t(k.health >> 1 & 3);
        r.E1_B_DVS = uint8_t(k.health & 1);
    }
}

std::optional<Frame> galileoFrame(const KeplerEphemeris& k, std::string* why)
{
    const int number = k.messageNumber == 1045 ? 1045 : 1046;
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
    Fields f(number);
    family::visitGalileoOrbit(number, record, [&](auto& r) {
        family::init(&r);
        f.raw(r.Satellite_ID, k.sat.number, "Satellite_ID");
        f.raw(r.Week_Number, k.week, "Week_Number");
        f.raw(r.IODnav, k.iode, "IODnav");
        f.raw(r.SV_SISA, k.accuracyIndex, "SV_SISA");
        f.scaled(r.IDOT, k.idot, unitsOf(r).IDOT, "IDOT");
        f.scaled(r.t_oc, k.toc.tow, unitsOf(r).t_oc, "t_oc");
        f.scaled(r.t_oe, k.toe.tow, unitsOf(r).t_oe, "t_oe");
        f.scaled(r.a_f0, k.af0, unitsOf(r).a_f0, "a_f0");
        f.scaled(r.a_f1, k.af1, unitsOf(r).a_f1, "a_f1");
        f.scaled(r.a_f2, k.af2, unitsOf(r).a_f2, "a_f2");
        putOrbit(f, r, k);
        f.scaled(r.BGD_E1_E5a, k.tgd1, unitsOf(r).BGD_E1_E5a, "BGD_E1_E5a");
        putGalileoHealth(r, k, f);
    });
    return seal(record, f, why);
}

std::optional<Frame> beidouFrame(const KeplerEphemeris& k, std::string* why)
{
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
    auto& r = record.Message_Type_1042;
    RTCM3_init_Message_Type_1042(&r);
    Fields f(1042);
    f.raw(r.Satellite_ID, k.sat.number, "Satellite_ID");
    f.raw(r.Week_Number, k.week, "Week_Number");
    f.raw(r.SV_URAI, k.accuracyIndex, "SV_URAI");
    f.scaled(r.IDOT, k.idot, unitsOf(r).IDOT, "IDOT");
    f.raw(r.AODE, k.iode, "AODE");
    f.raw(r.AODC, k.iodc, "AODC");
    f.scaled(r.t_oc, k.toc.bdtSow(), unitsOf(r).t_oc, "t_oc");
    f.scaled(r.t_oe, k.toe.bdtSow(), unitsOf(r).t_oe, "t_oe");
    f.scaled(r.a_0, k.af0, unitsOf(r).a_0, "a_0");
    f.scaled(r.a_1, k.af1, unitsOf(r).a_1, "a_1");
    f.scaled(r.a_2, k.af2, unitsOf(r).a_2, "a_2");
    putOrbit(f, r, k);
    f.scaled(r.T_GD1, k.tgd1, unitsOf(r).T_GD1, "T_GD1");
    f.scaled(r.T_GD2, k.tgd2, unitsOf(r).T_GD2, "T_GD2");
    f.raw(r.SV_Health, k.health, "SV_Health");
    return seal(record, f, why);
}

std::optional<Frame> navicFrame(const KeplerEphemeris& k, std::string* why)
{
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
    auto& r = record.Message_Type_1041;
    RTCM3_init_Message_Type_1041(&r);
    Fields f(1041);
    f.raw(r.Satellite_ID, k.sat.number, "Satellite_ID");
    f.wrap(r.Week_Number, k.week, wire::Message_Type_1041::Week_Number);
    f.scaled(r.a_f0, k.af0, unitsOf(r).a_f0, "a_f0");
    f.scaled(r.a_f1, k.af1, unitsOf(r).a_f1, "a_f1");
    f.scaled(r.a_f2, k.af2, unitsOf(r).a_f2, "a_f2");
    f.raw(r.URA, k.accuracyIndex, "URA");
    f.scaled(r.t_oc, k.toc.tow, unitsOf(r).t_oc, "t_oc");
    f.scaled(r.t_oe, k.toe.tow, unitsOf(r).t_oe, "t_oe");
    f.scaled(r.T_GD, k.tgd1, unitsOf(r).T_GD, "T_GD");
    f.raw(r.IODEC, k.iode, "IODEC");
    r.L5_Flag = uint8_t(k.health >> 1 & 1);
    r.S_Flag = uint8_t(k.health & 1);
    f.scaled(r.IDOT, k.idot, unitsOf(r).IDOT, "IDOT");
    putOrbit(f, r, k);
    return seal(record, f, why);
}

} // namespace

std::optional<Frame> keplerFrame(const KeplerEphemeris& k, std::string* why)
{
    switch (k.sat.system) {
    case System::Gps: {
        _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
        auto& r = record.Message_Type_1019;
        RTCM3_init_Message_Type_1019(&r);
        Fields f(1019);
        putGpsLike(f, r, k);
        f.scaled(r.IDOT, k.idot, unitsOf(r).IDOT, "IDOT");
        f.raw(r.SV_Accuracy, k.accuracyIndex, "SV_Accuracy");
        f.raw(r.L2P_Data_Flag, k.l2pDataFlag, "L2P_Data_Flag");
        return seal(record, f, why);
    }
    case System::Qzss: {
        _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
        auto& r = record.Message_Type_1044;
        RTCM3_init_Message_Type_1044(&r);
        Fields f(1044);
        putGpsLike(f, r, k);
        f.scaled(r.i_0_DOT, k.idot, unitsOf(r).i_0_DOT, "i_0_DOT");
        f.raw(r.URA, k.accuracyIndex, "URA");
        return seal(record, f, why);
    }
    case System::Galileo: return galileoFrame(k, why);
    case System::BeiDou: return beidouFrame(k, why);
    case System::NavIC: return navicFrame(k, why);
    default:
        if (why)
            *why = std::string(systemName(k.sat.system)) + " has no Kepler ephemeris message";
        return std::nullopt;
    }
}

std::optional<Frame> glonassFrame(const GlonassEphemeris& g, std::string* why)
{
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
    auto& r = record.Message_Type_1020;
    RTCM3_init_Message_Type_1020(&r);
    Fields f(1020);
    f.raw(r.Satellite_ID, g.sat.number, "Satellite_ID");
    f.scaled(r.Channel_Number, g.frequencyChannel, unitsOf(r).Channel_Number, "Channel_Number");
    // tk: the time of the Moscow day, to the half-minute below it.
    const double moscow = g.frameTime.secondsSinceEpoch() - leapSecondsAt(g.frameTime) + kMoscowAheadOfUtcS;
    r.tK = units::rawOf<uint16_t>(unitsOf(r).tK, std::fmod(std::floor(moscow + 0.5), kSecondsPerDay));
    f.raw(r.tb, g.tbIndex, "tb");
    f.raw(r.B_MSB, g.health, "B_MSB");
    f.raw(r.E, g.ageDays, "E");
    f.signMagnitude(r.x_SB, r.x_mag, g.positionM[0], unitsOf(r).x_mag, unitsOf(r).x.scale, "x_mag");
    f.signMagnitude(r.y_SB, r.y_mag, g.positionM[1], unitsOf(r).y_mag, unitsOf(r).y.scale, "y_mag");
    f.signMagnitude(r.z_SB, r.z_mag, g.positionM[2], unitsOf(r).z_mag, unitsOf(r).z.scale, "z_mag");
    f.signMagnitude(r.dx_SB, r.dx_mag, g.velocityMps[0], unitsOf(r).dx_mag, unitsOf(r).dx.scale, "dx_mag");
    f.signMagnitude(r.dy_SB, r.dy_mag, g.velocityMps[1], unitsOf(r).dy_mag, unitsOf(r).dy.scale, "dy_mag");
    f.signMagnitude(r.dz_SB, r.dz_mag, g.velocityMps[2], unitsOf(r).dz_mag, unitsOf(r).dz.scale, "dz_mag");
    f.signMagnitude(r.ddx_SB, r.ddx_mag, g.accelerationMps2[0], unitsOf(r).ddx_mag, unitsOf(r).ddx.scale, "ddx_mag");
    f.signMagnitude(r.ddy_SB, r.ddy_mag, g.accelerationMps2[1], unitsOf(r).ddy_mag, unitsOf(r).ddy.scale, "ddy_mag");
    f.signMagnitude(r.ddz_SB, r.ddz_mag, g.accelerationMps2[2], unitsOf(r).ddz_mag, unitsOf(r).ddz.scale, "ddz_mag");
    f.signMagnitude(r.gamma_SB, r.gamma_mag, g.gammaN, unitsOf(r).gamma_mag, 1.0, "gamma_mag");
    f.signMagnitude(r.tau_SB, r.tau_mag, g.tauN, unitsOf(r).tau_mag, unitsOf(r).tau.scale, "tau_mag");
    if (g.deltaTauNS)
        f.signMagnitude(r.dtau_SB, r.dtau_mag, *g.deltaTauNS, unitsOf(r).dtau_mag, unitsOf(r).dtau.scale, "dtau_mag");
    if (g.accuracyIndexFt)
        f.raw(r.F_T, *g.accuracyIndexFt, "F_T");
    if (g.flags) {
        const GlonassEphemeris::Flags& x = *g.flags;
        using W = wire::Message_Type_1020;
        f.wrap(r.P, x.p, W::P);
        f.wrap(r.P1, x.p1, W::P1);
        f.wrap(r.P2, x.p2, W::P2);
        f.wrap(r.P3, x.p3, W::P3);
        f.wrap(r.P4, x.p4, W::P4);
        f.wrap(r.M, x.m, W::M);
        f.wrap(r.l, x.ln3, W::l);
        f.wrap(r.Cn, x.almanacHealth, W::Cn);
        r.Cn_Available = x.almanacHealthAvailable ? 1 : 0;
    }
    return seal(record, f, why);
}

std::optional<Frame> stationPositionFrame(const StationPosition& p, StationSystems systems)
{
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
    const int number = p.antennaHeightM ? 1006 : 1005;
    Fields f(number);
    family::visitStationPosition(number, record, [&](auto& r) {
        family::init(&r);
        f.raw(r.Reference_Station_ID, p.stationId, "Reference_Station_ID");
        r.GPS_Indicator = systems.gps;
        r.GLONASS_Indicator = systems.glonass;
        r.Galileo_Indicator = systems.galileo;
        r.Reference_Station_Indicator = p.virtualStation ? 1 : 0;
        f.scaled(r.ECEF_X, p.ecef.x, unitsOf(r).ECEF_X, "ECEF_X");
        f.scaled(r.ECEF_Y, p.ecef.y, unitsOf(r).ECEF_Y, "ECEF_Y");
        f.scaled(r.ECEF_Z, p.ecef.z, unitsOf(r).ECEF_Z, "ECEF_Z");
        if constexpr (std::is_same_v<std::decay_t<decltype(r)>, RTCM3_Message_Type_1006_s>)
            f.scaled(r.Height, *p.antennaHeightM, unitsOf(r).Height, "Height");
    });
    return seal(record, f);
}

namespace {

// Copies as much of a text as a counted character field holds (less its terminating NUL).
template <std::size_t N>
void putText(char (&field)[N], uint8_t& count, const std::string& text)
{
    count = uint8_t(std::min<std::size_t>(text.size(), N - 1));
    std::memcpy(field, text.data(), count);
}

} // namespace

std::optional<Frame> stationDescriptionFrame(const StationDescription& d, int number)
{
    if (!number)
        number = !d.receiverDescriptor.empty() || !d.receiverFirmwareVersion.empty() || !d.receiverSerialNumber.empty()
            ? 1033
            : (d.antennaSerialNumber.empty() ? 1007 : 1008);
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
    Fields f(number);
    const bool known = family::visitAntennaDescriptors(number, record, [&](auto& r) {
        using R = std::decay_t<decltype(r)>;
        family::init(&r);
        f.raw(r.Reference_Station_ID, d.stationId, "Reference_Station_ID");
        f.raw(r.Antenna_Setup_ID, d.antennaSetupId, "Antenna_Setup_ID");
        putText(r.Antenna_Descriptor, r.N, d.antennaDescriptor);
        if constexpr (!std::is_same_v<R, RTCM3_Message_Type_1007_s>)
            putText(r.Antenna_Serial_Number, r.M, d.antennaSerialNumber);
        if constexpr (std::is_same_v<R, RTCM3_Message_Type_1033_s>) {
            putText(r.Receiver_Descriptor, r.I, d.receiverDescriptor);
            putText(r.Receiver_Firmware_Version, r.J, d.receiverFirmwareVersion);
            putText(r.Receiver_Serial_Number, r.K, d.receiverSerialNumber);
        }
    });
    if (!known)
        return std::nullopt;
    return seal(record, f);
}

std::optional<Frame> glonassBiasesFrame(const GlonassBiases& b)
{
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
    auto& r = record.Message_Type_1230;
    RTCM3_init_Message_Type_1230(&r);
    Fields f(1230);
    f.raw(r.Reference_Station_ID, b.stationId, "Reference_Station_ID");
    r.GLONASS_Code_Phase_bias_indicator = b.aligned ? 1 : 0;
    auto bias = [&](uint64_t bit, int16_t& member, const units::Physical& unit, const std::optional<double>& value) {
        member = 0;
        if (!value)
            return;
        // Outside its range a bias is sent as the invalid value (the most negative one), its
        // mask bit still set.
        const double q = std::round(*value / unit.scale);
        member = int16_t(q > double(unit.invalid) && q < -double(unit.invalid) ? q : double(unit.invalid));
        r.GLONASS_FDMA_Signals_Mask |= uint8_t(bit);
    };
    r.GLONASS_FDMA_Signals_Mask = 0;
    namespace u = units::Message_Type_1230;
    using w = wire::Message_Type_1230;
    bias(w::GLONASS_L1_C_A_Code_Phase_Bias.whenBit, r.GLONASS_L1_C_A_Code_Phase_Bias, u::GLONASS_L1_C_A_Code_Phase_Bias, b.l1ca);
    bias(w::GLONASS_L1_P_Code_Phase_Bias.whenBit, r.GLONASS_L1_P_Code_Phase_Bias, u::GLONASS_L1_P_Code_Phase_Bias, b.l1p);
    bias(w::GLONASS_L2_C_A_Code_Phase_Bias.whenBit, r.GLONASS_L2_C_A_Code_Phase_Bias, u::GLONASS_L2_C_A_Code_Phase_Bias, b.l2ca);
    bias(w::GLONASS_L2_P_Code_Phase_Bias.whenBit, r.GLONASS_L2_P_Code_Phase_Bias, u::GLONASS_L2_P_Code_Phase_Bias, b.l2p);
    return seal(record, f);
}

namespace {

// Modified Julian day and second of day of the UTC instant of a GPS instant.
void utcDay(const GpsTime& t, int leap, uint16_t& mjd, uint32_t& secondOfDay)
{
    const double utc = t.secondsSinceEpoch() - leap;
    const double day = std::floor(utc / kSecondsPerDay);
    mjd = uint16_t(int(day) + kMjdOfGpsEpoch);
    secondOfDay = uint32_t(std::floor(utc - day * kSecondsPerDay));
}

} // namespace

std::optional<Frame> systemParametersFrame(uint16_t stationId, const GpsTime& time,
                                           const std::vector<Announcement>& announced)
{
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
    auto& r = record.Message_Type_1013;
    RTCM3_init_Message_Type_1013(&r);
    Fields f(1013);
    f.raw(r.Reference_Station_ID, stationId, "Reference_Station_ID");
    const int leap = leapSecondsAt(time);
    utcDay(time, leap, r.MJD_Number, r.Seconds_of_Day);
    r.Leap_Seconds = uint8_t(leap);
    for (const Announcement& a : announced) {
        RTCM3_Announcement_s* e = RTCM3_append_Message_Type_1013_Announcements(&r);
        f.raw(e->Message_ID, a.messageNumber, "Message_ID");
        e->Sync_Flag = a.synchronous ? 1 : 0;
        f.scaled(e->Transmission_Interval, a.intervalS, units::Announcement::Transmission_Interval, "Transmission_Interval");
    }
    std::optional<Frame> frame = seal(record, f);
    RTCM3_free_message_children(&record);
    return frame;
}

std::optional<Frame> textFrame(const StationText& text)
{
    _RTCM3_message_t record;
    std::memset(&record, 0, sizeof record);  // init sets the header only
    auto& r = record.Message_Type_1029;
    RTCM3_init_Message_Type_1029(&r);
    Fields f(1029);
    f.raw(r.Reference_Station_ID, text.stationId, "Reference_Station_ID");
    utcDay(text.time, leapSecondsAt(text.time), r.MJD_Number, r.Seconds_of_Day);
    const std::size_t n = std::min<std::size_t>(text.text.size(), sizeof r.UTF_8_Character_Code_Units);
    std::memcpy(r.UTF_8_Character_Code_Units, text.text.data(), n);
    r.Number_of_UTF_8_Code_Units = uint8_t(n);
    int characters = 0;
    for (std::size_t i = 0; i < n; ++i)
        characters += (uint8_t(text.text[i]) & 0xC0) != 0x80;  // continuation bytes are no characters
    r.Number_of_Characters_to_Follow = uint8_t(characters);
    return seal(record, f);
}

} // namespace Kvt::Nuvrix::Produce
