#include "OrbitConversion.h"

#include "RTCM3_families.h"

#include <cmath>

namespace Kvt::Nuvrix::View {

using namespace Gnss;

namespace {

// The physical value of a member that has no invalid marker.
template <typename Raw>
double si(const units::Physical& unit, Raw raw)
{
    return *units::value(unit, raw);
}

// A sign and magnitude pair: the magnitude at its own scale, the joined value in `unit`.
template <typename Raw>
double fromSignMagnitude(int sign, const units::Physical& magnitudeUnit, Raw magnitude, const units::Physical& unit)
{
    return (sign ? -1.0 : 1.0) * si(magnitudeUnit, magnitude) * unit.scale;
}

constexpr units::Physical kRatio{1.0, nullptr, false, 0};  // gamma: a ratio of frequencies

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
void fillOrbit(KeplerEphemeris& k, const R& r)
{
    using U = units::Of<R>;
    k.crs = si(U::C_rs, r.C_rs);
    k.crc = si(U::C_rc, r.C_rc);
    k.cuc = si(U::C_uc, r.C_uc);
    k.cus = si(U::C_us, r.C_us);
    k.cic = si(U::C_ic, r.C_ic);
    k.cis = si(U::C_is, r.C_is);
    k.m0 = si(U::M_0, r.M_0);
    k.e = si(U::e, r.e);
    k.sqrtA = si(U::SQRT_A, r.SQRT_A);
    k.omega0 = si(U::OMEGA_0, r.OMEGA_0);
    k.i0 = si(U::i_0, r.i_0);
    k.omega = si(U::omega, r.omega);
    k.deltaN = si(U::Delta_n, r.Delta_n);
    k.omegaDot = si(U::OMEGADOT, r.OMEGADOT);
}

// The clock terms of the ephemerides that name them a_f0, a_f1, a_f2.
template <typename R>
void fillClock(KeplerEphemeris& k, const R& r)
{
    using U = units::Of<R>;
    k.af0 = si(U::a_f0, r.a_f0);
    k.af1 = si(U::a_f1, r.a_f1);
    k.af2 = si(U::a_f2, r.a_f2);
}

// GPS (1019) and QZSS (1044) send the same ephemeris; only a few member names differ.
template <typename R>
KeplerEphemeris gpsLikeKepler(System system, int prn, int number, int32_t week, const R& r,
                              const std::optional<GpsTime>& near, double idot, int accuracy)
{
    using U = units::Of<R>;
    KeplerEphemeris k = commonKepler(system, prn, number);
    k.week = week;
    k.toc = nearWeekTime(week, si(U::t_oc, r.t_oc), near);
    k.toe = nearWeekTime(week, si(U::t_oe, r.t_oe), near);
    fillClock(k, r);
    fillOrbit(k, r);
    k.idot = idot;
    k.iode = r.IODE;
    k.iodc = r.IODC;
    k.tgd1 = si(U::T_gd, r.T_gd);
    k.health = r.SV_Health;
    k.accuracyIndex = accuracy;
    k.codesOnL2 = r.Code_On_L2;
    k.fitIntervalFlag = r.Fit_Interval;
    return k;
}

} // namespace

KeplerEphemeris gpsEphemeris(const RTCM3_Message_Type_1019_s& r, int32_t week, const std::optional<GpsTime>& near)
{
    KeplerEphemeris k = gpsLikeKepler(System::Gps, r.Satellite_ID, 1019, week, r, near,
                                      si(units::Message_Type_1019::IDOT, r.IDOT), r.SV_Accuracy);
    k.l2pDataFlag = r.L2P_Data_Flag;
    return k;
}

KeplerEphemeris qzssEphemeris(const RTCM3_Message_Type_1044_s& r, int32_t week, const std::optional<GpsTime>& near)
{
    return gpsLikeKepler(System::Qzss, r.Satellite_ID + 192, 1044, week, r, near,
                         si(units::Message_Type_1044::i_0_DOT, r.i_0_DOT), r.URA);
}

KeplerEphemeris navicEphemeris(const RTCM3_Message_Type_1041_s& r, int32_t gpsWeek, const std::optional<GpsTime>& near)
{
    KeplerEphemeris k = commonKepler(System::NavIC, r.Satellite_ID, 1041);
    // NavIC counts its weeks from the Galileo origin, 1024 GPS weeks on.
    k.week = gpsWeek - kGstWeekOffset;
    namespace u = units::Message_Type_1041;
    k.toc = nearWeekTime(gpsWeek, si(u::t_oc, r.t_oc), near);
    k.toe = nearWeekTime(gpsWeek, si(u::t_oe, r.t_oe), near);
    fillClock(k, r);
    fillOrbit(k, r);
    k.idot = si(u::IDOT, r.IDOT);
    k.iode = r.IODEC;
    k.tgd1 = si(u::T_GD, r.T_GD);
    k.health = r.L5_Flag << 1 | r.S_Flag;
    k.accuracyIndex = r.URA;
    return k;
}

GpsTime beidouReferenceTime(const RTCM3_Message_Type_1042_s& r)
{
    return GpsTime::fromBdt(r.Week_Number, si(units::Message_Type_1042::t_oe, r.t_oe));
}

KeplerEphemeris beidouEphemeris(const RTCM3_Message_Type_1042_s& r, const std::optional<GpsTime>& near)
{
    KeplerEphemeris k = commonKepler(System::BeiDou, r.Satellite_ID, 1042);
    k.week = r.Week_Number;
    const GpsTime toe = beidouReferenceTime(r);
    k.toe = nearWeekTime(toe.week, toe.tow, near);
    namespace u = units::Message_Type_1042;
    const GpsTime toc = GpsTime::fromBdt(r.Week_Number, si(u::t_oc, r.t_oc));
    k.toc = nearWeekTime(toc.week, toc.tow, near);
    k.af0 = si(u::a_0, r.a_0);
    k.af1 = si(u::a_1, r.a_1);
    k.af2 = si(u::a_2, r.a_2);
    fillOrbit(k, r);
    k.idot = si(u::IDOT, r.IDOT);
    k.iode = r.AODE;
    k.iodc = r.AODC;
    k.tgd1 = si(u::T_GD1, r.T_GD1);
    k.tgd2 = si(u::T_GD2, r.T_GD2);
    k.health = r.SV_Health;
    k.accuracyIndex = r.SV_URAI;
    return k;
}

GpsTime galileoReferenceTime(const family::GalileoOrbit& m)
{
    return GpsTime(m.Week_Number + kGstWeekOffset, si(units::GalileoOrbit::t_oe, m.t_oe));
}

namespace {

template <typename R>
KeplerEphemeris galileoKepler(const R& r, const std::optional<GpsTime>& near)
{
    const auto m = family::GalileoOrbit::of(r);
    namespace u = units::GalileoOrbit;
    KeplerEphemeris k = commonKepler(System::Galileo, m.Satellite_ID, m.Message_Number);
    k.week = m.Week_Number;
    const int32_t gpsWeek = m.Week_Number + kGstWeekOffset;
    k.toe = nearWeekTime(gpsWeek, si(u::t_oe, m.t_oe), near);
    k.toc = nearWeekTime(gpsWeek, si(u::t_oc, m.t_oc), near);
    fillClock(k, r);
    fillOrbit(k, r);
    k.idot = si(u::IDOT, m.IDOT);
    k.iode = m.IODnav;
    k.accuracyIndex = m.SV_SISA;
    k.tgd1 = si(u::BGD_E1_E5a, m.BGD_E1_E5a);
    return k;
}

} // namespace

KeplerEphemeris galileoEphemeris(const RTCM3_Message_Type_1045_s& r, const std::optional<GpsTime>& near)
{
    KeplerEphemeris k = galileoKepler(r, near);
    // Health bits as RINEX lays them out: E5a status at bits 4-5, validity at 3.
    k.health = r.E5a_HS << 4 | r.E5a_DVS << 3;
    k.dataSources = 0x102;  // F/NAV, clock for E5a and E1
    return k;
}

KeplerEphemeris galileoEphemeris(const RTCM3_Message_Type_1046_s& r, const std::optional<GpsTime>& near)
{
    KeplerEphemeris k = galileoKepler(r, near);
    k.tgd2 = si(units::Message_Type_1046::BGD_E1_E5b, r.BGD_E1_E5b);
    k.health = r.E5b_HS << 7 | r.E5b_DVS << 6 | r.E1_B_HS << 1 | r.E1_B_DVS;
    k.dataSources = 0x205;  // I/NAV on E1-B and E5b-I, clock for E5b and E1
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
    namespace u = units::Message_Type_1020;
    g.frequencyChannel = int(si(u::Channel_Number, r.Channel_Number));
    g.tbIndex = r.tb;
    g.toe = moscowTimeOfDay(si(u::tb, r.tb));
    g.frameTime = moscowTimeOfDay(si(u::tK, r.tK));
    g.positionM = {fromSignMagnitude(r.x_SB, u::x_mag, r.x_mag, u::x), fromSignMagnitude(r.y_SB, u::y_mag, r.y_mag, u::y),
                   fromSignMagnitude(r.z_SB, u::z_mag, r.z_mag, u::z)};
    g.velocityMps = {fromSignMagnitude(r.dx_SB, u::dx_mag, r.dx_mag, u::dx), fromSignMagnitude(r.dy_SB, u::dy_mag, r.dy_mag, u::dy),
                     fromSignMagnitude(r.dz_SB, u::dz_mag, r.dz_mag, u::dz)};
    g.accelerationMps2 = {fromSignMagnitude(r.ddx_SB, u::ddx_mag, r.ddx_mag, u::ddx), fromSignMagnitude(r.ddy_SB, u::ddy_mag, r.ddy_mag, u::ddy),
                          fromSignMagnitude(r.ddz_SB, u::ddz_mag, r.ddz_mag, u::ddz)};
    g.gammaN = fromSignMagnitude(r.gamma_SB, u::gamma_mag, r.gamma_mag, kRatio);
    g.tauN = fromSignMagnitude(r.tau_SB, u::tau_mag, r.tau_mag, u::tau);
    g.health = r.B_MSB;
    g.ageDays = r.E;
    return g;
}

} // namespace Kvt::Nuvrix::View
