#include "OrbitConversion.h"

#include <cmath>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

constexpr double kPi = 3.1415926535898;  // the value the interface documents use for semicircles

// Exact powers of two, folded by the compiler for the constant scales of the message tables.
constexpr double pow2(int e)
{
    double r = 1.0;
    for (; e < 0; ++e)
        r /= 2;
    for (; e > 0; --e)
        r *= 2;
    return r;
}

KeplerEphemeris commonKepler(System system, int prn, int number)
{
    KeplerEphemeris k;
    k.sat = satelliteFromPrn(system, prn).value_or(SatId{system, 0});
    k.messageNumber = number;
    return k;
}

// A time of week near a reference instant: a reference time sent at the end of one week may
// belong to the next.
GpsTime nearWeekTime(int32_t week, double tow, const std::optional<GpsTime>& near)
{
    GpsTime t(week, tow);
    if (near) {
        if (t - *near > kSecondsPerWeek / 2)
            t = GpsTime(week - 1, tow);
        else if (*near - t > kSecondsPerWeek / 2)
            t = GpsTime(week + 1, tow);
    }
    return t;
}

template <typename R>
void fillOrbit(KeplerEphemeris& k, const R& r, int crScale, int cScale)
{
    k.crs = r.C_rs * pow2(crScale);
    k.crc = r.C_rc * pow2(crScale);
    k.cuc = r.C_uc * pow2(cScale);
    k.cus = r.C_us * pow2(cScale);
    k.cic = r.C_ic * pow2(cScale);
    k.cis = r.C_is * pow2(cScale);
    k.m0 = r.M_0 * pow2(-31) * kPi;
    k.e = r.e * pow2(-33);
    k.sqrtA = r.SQRT_A * pow2(-19);
    k.omega0 = r.OMEGA_0 * pow2(-31) * kPi;
    k.i0 = r.i_0 * pow2(-31) * kPi;
    k.omega = r.omega * pow2(-31) * kPi;
}

// GPS (1019) and QZSS (1044) send the same ephemeris; only a few member names differ.
template <typename R>
KeplerEphemeris gpsLikeKepler(System system, int prn, int number, int32_t week, const R& r,
                              const std::optional<GpsTime>& near, double idot, int accuracy)
{
    KeplerEphemeris k = commonKepler(system, prn, number);
    k.week = week;
    k.toc = nearWeekTime(week, r.t_oc * 16.0, near);
    k.toe = nearWeekTime(week, r.t_oe * 16.0, near);
    k.af0 = r.a_f0 * pow2(-31);
    k.af1 = r.a_f1 * pow2(-43);
    k.af2 = r.a_f2 * pow2(-55);
    fillOrbit(k, r, -5, -29);
    k.deltaN = r.Delta_n * pow2(-43) * kPi;
    k.omegaDot = r.OMEGADOT * pow2(-43) * kPi;
    k.idot = idot * pow2(-43) * kPi;
    k.iode = r.IODE;
    k.iodc = r.IODC;
    k.tgd1 = r.T_gd * pow2(-31);
    k.health = r.SV_Health;
    k.accuracyIndex = accuracy;
    k.codesOnL2 = r.Code_On_L2;
    k.fitIntervalFlag = r.Fit_Interval;
    return k;
}

double signMagnitude(int sign, double magnitude, int exponent)
{
    return (sign ? -1.0 : 1.0) * magnitude * pow2(exponent);
}

} // namespace

KeplerEphemeris gpsEphemeris(const RTCM3_Message_Type_1019_s& r, int32_t week, const std::optional<GpsTime>& near)
{
    KeplerEphemeris k = gpsLikeKepler(System::Gps, r.Satellite_ID, 1019, week, r, near, r.IDOT, r.SV_Accuracy);
    k.l2pDataFlag = r.L2P_Data_Flag;
    return k;
}

KeplerEphemeris qzssEphemeris(const RTCM3_Message_Type_1044_s& r, int32_t week, const std::optional<GpsTime>& near)
{
    return gpsLikeKepler(System::Qzss, r.Satellite_ID + 192, 1044, week, r, near, r.i_0_DOT, r.URA);
}

KeplerEphemeris navicEphemeris(const RTCM3_Message_Type_1041_s& r, int32_t gpsWeek, const std::optional<GpsTime>& near)
{
    KeplerEphemeris k = commonKepler(System::NavIC, r.Satellite_ID, 1041);
    // NavIC counts its weeks from the Galileo origin, 1024 GPS weeks on.
    k.week = gpsWeek - kGstWeekOffset;
    k.toc = nearWeekTime(gpsWeek, r.t_oc * 16.0, near);
    k.toe = nearWeekTime(gpsWeek, r.t_oe * 16.0, near);
    k.af0 = r.a_f0 * pow2(-31);
    k.af1 = r.a_f1 * pow2(-43);
    k.af2 = r.a_f2 * pow2(-55);
    fillOrbit(k, r, -4, -28);
    k.deltaN = r.Delta_n * pow2(-41) * kPi;
    k.omegaDot = r.OMEGADOT * pow2(-41) * kPi;
    k.idot = r.IDOT * pow2(-43) * kPi;
    k.iode = r.IODEC;
    k.tgd1 = r.T_GD * pow2(-31);
    k.health = r.L5_Flag << 1 | r.S_Flag;
    k.accuracyIndex = r.URA;
    return k;
}

GpsTime beidouReferenceTime(const RTCM3_Message_Type_1042_s& r) { return GpsTime::fromBdt(r.Week_Number, r.t_oe * 8.0); }

KeplerEphemeris beidouEphemeris(const RTCM3_Message_Type_1042_s& r, const std::optional<GpsTime>& near)
{
    KeplerEphemeris k = commonKepler(System::BeiDou, r.Satellite_ID, 1042);
    k.week = r.Week_Number;
    const GpsTime toe = beidouReferenceTime(r);
    k.toe = nearWeekTime(toe.week, toe.tow, near);
    const GpsTime toc = GpsTime::fromBdt(r.Week_Number, r.t_oc * 8.0);
    k.toc = nearWeekTime(toc.week, toc.tow, near);
    k.af0 = r.a_0 * pow2(-33);
    k.af1 = r.a_1 * pow2(-50);
    k.af2 = r.a_2 * pow2(-66);
    fillOrbit(k, r, -6, -31);
    k.deltaN = r.Delta_n * pow2(-43) * kPi;
    k.omegaDot = r.OMEGADOT * pow2(-43) * kPi;
    k.idot = r.IDOT * pow2(-43) * kPi;
    k.iode = r.AODE;
    k.iodc = r.AODC;
    k.tgd1 = r.T_GD1 * 1e-10;
    k.tgd2 = r.T_GD2 * 1e-10;
    k.health = r.SV_Health;
    k.accuracyIndex = r.SV_URAI;
    return k;
}

GpsTime galileoReferenceTime(const RTCM3_Message_Type_1046_s& r)
{
    return GpsTime(r.Week_Number + kGstWeekOffset, r.t_oe * 60.0);
}

KeplerEphemeris galileoEphemeris(int number, const _RTCM3_message_t& record, const std::optional<GpsTime>& near)
{
    const auto& m = record.Message_Type_1046;  // 1045 shares the orbit and clock
    KeplerEphemeris k = commonKepler(System::Galileo, m.Satellite_ID, number);
    k.week = m.Week_Number;
    const int32_t gpsWeek = m.Week_Number + kGstWeekOffset;
    k.toe = nearWeekTime(gpsWeek, m.t_oe * 60.0, near);
    k.toc = nearWeekTime(gpsWeek, m.t_oc * 60.0, near);
    k.af0 = m.a_f0 * pow2(-34);
    k.af1 = m.a_f1 * pow2(-46);
    k.af2 = m.a_f2 * pow2(-59);
    fillOrbit(k, m, -5, -29);
    k.deltaN = m.Delta_n * pow2(-43) * kPi;
    k.omegaDot = m.OMEGADOT * pow2(-43) * kPi;
    k.idot = m.IDOT * pow2(-43) * kPi;
    k.iode = m.IODnav;
    k.accuracyIndex = m.SV_SISA;
    k.tgd1 = m.BGD_E1_E5a * pow2(-32);
    if (number == 1045) {
        const auto& f = record.Message_Type_1045;
        // Health bits as RINEX lays them out: E5a status at bits 4-5, validity at 3.
        k.health = f.E5a_HS << 4 | f.E5a_DVS << 3;
        k.dataSources = 0x102;  // F/NAV, clock for E5a and E1
    } else {
        k.tgd2 = m.BGD_E1_E5b * pow2(-32);
        k.health = m.E5b_HS << 7 | m.E5b_DVS << 6 | m.E1_B_HS << 1 | m.E1_B_DVS;
        k.dataSources = 0x205;  // I/NAV on E1-B and E5b-I, clock for E5b and E1
    }
    return k;
}

GlonassEphemeris glonassEphemeris(const RTCM3_Message_Type_1020_s& r, const GpsTime& reference, int leap)
{
    auto moscowTimeOfDay = [&](double seconds) {
        const double moscowNow = reference.secondsSinceEpoch() + 10800.0 - leap;
        const double dayStart = std::floor(moscowNow / kSecondsPerDay) * kSecondsPerDay;
        GpsTime t(0, dayStart + seconds - 10800.0 + leap);
        if (t - reference > kSecondsPerDay / 2)
            t = t.plusSeconds(-kSecondsPerDay);
        else if (reference - t > kSecondsPerDay / 2)
            t = t.plusSeconds(kSecondsPerDay);
        return t;
    };
    GlonassEphemeris g;
    g.sat = satelliteFromPrn(System::Glonass, r.Satellite_ID).value_or(SatId{System::Glonass, 0});
    g.frequencyChannel = r.Channel_Number - 7;
    g.tbIndex = r.tb;
    g.toe = moscowTimeOfDay(r.tb * 900.0);
    const int tk = r.tK;
    g.frameTime = moscowTimeOfDay((tk >> 7) * 3600.0 + ((tk >> 1) & 63) * 60.0 + (tk & 1) * 30.0);
    g.positionM = {signMagnitude(r.x_SB, r.x_mag, -11) * 1000, signMagnitude(r.y_SB, r.y_mag, -11) * 1000,
                   signMagnitude(r.z_SB, r.z_mag, -11) * 1000};
    g.velocityMps = {signMagnitude(r.dx_SB, r.dx_mag, -20) * 1000, signMagnitude(r.dy_SB, r.dy_mag, -20) * 1000,
                     signMagnitude(r.dz_SB, r.dz_mag, -20) * 1000};
    g.accelerationMps2 = {signMagnitude(r.ddx_SB, r.ddx_mag, -30) * 1000, signMagnitude(r.ddy_SB, r.ddy_mag, -30) * 1000,
                          signMagnitude(r.ddz_SB, r.ddz_mag, -30) * 1000};
    g.gammaN = signMagnitude(r.gamma_SB, r.gamma_mag, -40);
    g.tauN = signMagnitude(r.tau_SB, r.tau_mag, -30);
    g.health = r.B_MSB;
    g.ageDays = r.E;
    return g;
}

} // namespace Kvt::Nuvrix::View
