// Broadcast ephemerides: GPS, GLONASS, BeiDou and both Galileo navigation messages.

#include "MessageBuilders.h"
#include "Record.h"
#include "SampleTime.h"
#include "Scaling.h"
#include "SkyModel.h"

#include <cmath>
#include <string>

namespace Kvt::Nuvrix::SampleGen {

namespace {

template <typename Rec>
void fillOrbit(Rec& r, const KeplerOrbit& o)
{
    using U = units::Of<Rec>;
    put(r.Delta_n, o.meanMotionDelta, U::Delta_n, "Delta n");
    put(r.M_0, o.meanAnomaly, U::M_0, "M 0");
    put(r.e, o.eccentricity, U::e, "e");
    put(r.SQRT_A, o.sqrtA, U::SQRT_A, "SQRT A");
    put(r.OMEGA_0, o.rightAscension, U::OMEGA_0, "OMEGA 0");
    put(r.i_0, o.inclination, U::i_0, "i 0");
    put(r.omega, o.argumentOfPerigee, U::omega, "omega");
    put(r.OMEGADOT, o.rightAscensionRate, U::OMEGADOT, "OMEGADOT");
    put(r.C_rs, o.crs, U::C_rs, "C rs");
    put(r.C_rc, o.crc, U::C_rc, "C rc");
    put(r.C_uc, o.cuc, U::C_uc, "C uc");
    put(r.C_us, o.cus, U::C_us, "C us");
    put(r.C_ic, o.cic, U::C_ic, "C ic");
    put(r.C_is, o.cis, U::C_is, "C is");
}

// Stations send the ephemerides in rotation: one tracked satellite per system and epoch.
const Satellite& rotatingSatellite(const EpochContext& c, System system)
{
    const std::vector<const Satellite*> visible = c.sky.visibleSatellites(system, c.gpsTow);
    if (visible.empty())
        throw SampleError("no satellite in view for an ephemeris");
    return *visible[size_t(c.index) % visible.size()];
}

double seedOf(const Satellite& s)
{
    return 100.0 * int(s.system) + s.id + 50;
}

QByteArray gpsEphemeris(const EpochContext& c)
{
    const Satellite& s = rotatingSatellite(c, System::Gps);
    Record<RTCM3_Message_Type_1019_s> r;
    r->Satellite_ID = uint8_t(s.id);
    r->Week_Number = kGpsWeek & wire::Message_Type_1019::Week_Number.highest;
    r->SV_Accuracy = 0;
    r->Code_On_L2 = 1;
    r->IODE = uint8_t(s.issueOfData);
    r->IODC = uint16_t(s.issueOfData);
    using U = units::Of<RTCM3_Message_Type_1019_s>;
    put(r->t_oc, s.orbit.toe, U::t_oc, "t oc");
    r->t_oe = r->t_oc;
    r->a_f2 = 0;
    put(r->a_f1, s.clockDrift, U::a_f1, "a f1");
    put(r->a_f0, s.clockBias, U::a_f0, "a f0");
    put(r->IDOT, s.orbit.inclinationRate, U::IDOT, "IDOT");
    fillOrbit(*r, s.orbit);
    put(r->T_gd, -1.1e-8 + 3e-9 * wobble(seedOf(s)), U::T_gd, "T gd");
    r->SV_Health = 0;
    r->L2P_Data_Flag = 0;
    r->Fit_Interval = 0;
    return r.frame();
}

template <typename Rec>
void fillGalileo(Rec& r, const Satellite& s)
{
    r.Satellite_ID = uint8_t(s.id);
    r.Week_Number = kGpsWeek - kGalileoWeekOffset;
    r.IODnav = uint16_t(s.issueOfData);
    r.SV_SISA = 107; // 3.12 m
    using U = units::Of<Rec>;
    put(r.t_oc, s.orbit.toe, U::t_oc, "t oc");
    r.t_oe = r.t_oc;
    r.a_f2 = 0;
    put(r.a_f1, s.clockDrift, U::a_f1, "a f1");
    put(r.a_f0, s.clockBias, U::a_f0, "a f0");
    put(r.IDOT, s.orbit.inclinationRate, U::IDOT, "IDOT");
    fillOrbit(r, s.orbit);
    put(r.BGD_E1_E5a, 1.8e-9 + 1e-9 * wobble(seedOf(s)), U::BGD_E1_E5a, "BGD E1,E5a");
}

QByteArray galileoFnavEphemeris(const EpochContext& c)
{
    const Satellite& s = rotatingSatellite(c, System::Galileo);
    Record<RTCM3_Message_Type_1045_s> r;
    fillGalileo(*r, s);
    r->E5a_HS = 0;
    r->E5a_DVS = 0;
    return r.frame();
}

QByteArray galileoInavEphemeris(const EpochContext& c)
{
    const Satellite& s = rotatingSatellite(c, System::Galileo);
    Record<RTCM3_Message_Type_1046_s> r;
    fillGalileo(*r, s);
    put(r->BGD_E1_E5b, 2.1e-9 + 1e-9 * wobble(seedOf(s) + 1), units::Of<RTCM3_Message_Type_1046_s>::BGD_E1_E5b, "BGD E1,E5b");
    r->E5b_HS = 0;
    r->E5b_DVS = 0;
    r->E1_B_HS = 0;
    r->E1_B_DVS = 0;
    return r.frame();
}

QByteArray beidouEphemeris(const EpochContext& c)
{
    const Satellite& s = rotatingSatellite(c, System::BeiDou);
    Record<RTCM3_Message_Type_1042_s> r;
    r->Satellite_ID = uint8_t(s.id);
    r->Week_Number = kGpsWeek - kBeiDouWeekOffset;
    r->SV_URAI = 1;
    r->AODE = uint8_t(s.issueOfData);
    r->AODC = uint8_t(s.issueOfData);
    using U = units::Of<RTCM3_Message_Type_1042_s>;
    put(r->t_oc, s.orbit.toe, U::t_oc, "t oc");
    r->t_oe = r->t_oc;
    r->a_2 = 0;
    put(r->a_1, s.clockDrift, U::a_1, "a 1");
    put(r->a_0, s.clockBias, U::a_0, "a 0");
    put(r->IDOT, s.orbit.inclinationRate, U::IDOT, "IDOT");
    fillOrbit(*r, s.orbit);
    put(r->T_GD1, 5e-9 * wobble(seedOf(s)), U::T_GD1, "T GD1");
    put(r->T_GD2, -2e-9 + 1e-9 * wobble(seedOf(s) + 1), U::T_GD2, "T GD2");
    r->SV_Health = 0;
    return r.frame();
}

// GLONASS sends an Earth-fixed state vector at tb instead of orbital elements.
struct GlonassState {
    Vec3 position; // km
    Vec3 velocity; // km/s
};

GlonassState glonassState(const Satellite& s)
{
    const double tb = SkyModel::glonassReferenceTow();
    const Vec3 p = SkyModel::position(s, tb);
    const Vec3 ahead = SkyModel::position(s, tb + 0.5);
    const Vec3 behind = SkyModel::position(s, tb - 0.5);
    const Vec3 v = ahead - behind;
    return {{p.x / 1000, p.y / 1000, p.z / 1000}, {v.x / 1000, v.y / 1000, v.z / 1000}};
}

void fillGlonassTimes(Record<RTCM3_Message_Type_1020_s>& r, const EpochContext& c)
{
    const GlonassTime now = glonassFromGps(c.gpsTow);
    const int frameStart = int(now.secondOfDay) / 30 * 30;
    const int tb = int(std::lround(glonassFromGps(SkyModel::glonassReferenceTow()).secondOfDay)) / 900;
    r->tK = units::rawOf<uint16_t>(units::Message_Type_1020::tK, frameStart);
    r->tb = uint8_t(tb);
    r->P1 = 1;  // 30 minutes between reference times
    r->P2 = tb % 2;
    r->N_T = uint16_t(glonassDayInInterval(now.mjd));
    r->N_A = r->N_T;
    r->N_4 = uint8_t(glonassFourYearInterval(now.mjd));
}

QByteArray glonassEphemeris(const EpochContext& c)
{
    const Satellite& s = rotatingSatellite(c, System::Glonass);
    const GlonassState state = glonassState(s);
    const double seed = seedOf(s);
    Record<RTCM3_Message_Type_1020_s> r;
    using U = units::Of<RTCM3_Message_Type_1020_s>;
    r->Satellite_ID = uint8_t(s.id);
    r->Channel_Number = units::rawOf<uint8_t>(U::Channel_Number, s.glonassChannel);
    r->Cn = 0;
    r->Cn_Available = 1;
    fillGlonassTimes(r, c);
    putSignMagnitude(r->x_SB, r->x_mag, state.position.x, U::x_mag, "x");
    putSignMagnitude(r->y_SB, r->y_mag, state.position.y, U::y_mag, "y");
    putSignMagnitude(r->z_SB, r->z_mag, state.position.z, U::z_mag, "z");
    putSignMagnitude(r->dx_SB, r->dx_mag, state.velocity.x, U::dx_mag, "dx");
    putSignMagnitude(r->dy_SB, r->dy_mag, state.velocity.y, U::dy_mag, "dy");
    putSignMagnitude(r->dz_SB, r->dz_mag, state.velocity.z, U::dz_mag, "dz");
    // Lunar and solar accelerations: a few 1e-9 km/s^2.
    putSignMagnitude(r->ddx_SB, r->ddx_mag, 2.8e-9 * wobble(seed + 1), U::ddx_mag, "ddx");
    putSignMagnitude(r->ddy_SB, r->ddy_mag, 2.8e-9 * wobble(seed + 2), U::ddy_mag, "ddy");
    putSignMagnitude(r->ddz_SB, r->ddz_mag, 2.8e-9 * wobble(seed + 3), U::ddz_mag, "ddz");
    // The satellite clock runs ahead of system time by clockBias at tb: tau is its negative.
    putSignMagnitude(r->gamma_SB, r->gamma_mag, s.clockDrift, U::gamma_mag, "gamma");
    putSignMagnitude(r->tau_SB, r->tau_mag, -s.clockBias, U::tau_mag, "tau");
    putSignMagnitude(r->dtau_SB, r->dtau_mag, 2.5e-9 * wobble(seed + 4), U::dtau_mag, "dtau");
    putSignMagnitude(r->tau_C_SB, r->tau_C_mag, -8.4e-9, U::tau_C_mag, "tau_C");
    putSignMagnitude(r->tau_GPS_SB, r->tau_GPS_mag, 3.7e-9, U::tau_GPS_mag, "tau_GPS");
    r->B_MSB = 0;
    r->P3 = 1;
    r->P = 3;
    r->l = 0;
    r->E = 0;
    r->P4 = 0;
    r->F_T = 2;
    r->M = 1; // GLONASS-M
    r->Additional_Data_Available = 1;
    r->l_n = 0;
    return r.frame();
}

} // namespace

QByteArray buildEphemerisMessage(uint16_t number, const EpochContext& context)
{
    switch (number) {
    case 1019: return gpsEphemeris(context);
    case 1020: return glonassEphemeris(context);
    case 1042: return beidouEphemeris(context);
    case 1045: return galileoFnavEphemeris(context);
    case 1046: return galileoInavEphemeris(context);
    default: throw SampleError("no ephemeris builder for message " + std::to_string(number));
    }
}

} // namespace Kvt::Nuvrix::SampleGen
