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

double pow2(int exponent)
{
    return std::ldexp(1.0, exponent);
}

// The harmonic corrections are the one part of the element set whose resolution differs
// between the systems.
struct HarmonicScales {
    int bits;
    double metres;
    double radians;
};
const HarmonicScales kNarrowHarmonics{16, pow2(-5), pow2(-29)};
const HarmonicScales kBeiDouHarmonics{18, 1.0 / 64, pow2(-31)};

template <typename Field>
Field asSigned(double value, double scale, int bits, const char* what)
{
    return static_cast<Field>(toSigned(value, scale, bits, what));
}

template <typename Field>
Field asUnsigned(double value, double scale, int bits, const char* what)
{
    return static_cast<Field>(toUnsigned(value, scale, bits, what));
}

template <typename Rec>
void fillOrbit(Rec& r, const KeplerOrbit& o, const HarmonicScales& h)
{
    using R = Rec;
    r.IDOT = asSigned<decltype(R::IDOT)>(toSemicircles(o.inclinationRate), pow2(-43), 14, "IDOT");
    r.Delta_n = asSigned<decltype(R::Delta_n)>(toSemicircles(o.meanMotionDelta), pow2(-43), 16, "Delta n");
    r.M_0 = asSigned<decltype(R::M_0)>(toSemicircles(o.meanAnomaly), pow2(-31), 32, "M 0");
    r.e = asUnsigned<decltype(R::e)>(o.eccentricity, pow2(-33), 32, "e");
    r.SQRT_A = asUnsigned<decltype(R::SQRT_A)>(o.sqrtA, pow2(-19), 32, "SQRT A");
    r.OMEGA_0 = asSigned<decltype(R::OMEGA_0)>(toSemicircles(o.rightAscension), pow2(-31), 32, "OMEGA 0");
    r.i_0 = asSigned<decltype(R::i_0)>(toSemicircles(o.inclination), pow2(-31), 32, "i 0");
    r.omega = asSigned<decltype(R::omega)>(toSemicircles(o.argumentOfPerigee), pow2(-31), 32, "omega");
    r.OMEGADOT = asSigned<decltype(R::OMEGADOT)>(toSemicircles(o.rightAscensionRate), pow2(-43), 24, "OMEGADOT");
    r.C_rs = asSigned<decltype(R::C_rs)>(o.crs, h.metres, h.bits, "C rs");
    r.C_rc = asSigned<decltype(R::C_rc)>(o.crc, h.metres, h.bits, "C rc");
    r.C_uc = asSigned<decltype(R::C_uc)>(o.cuc, h.radians, h.bits, "C uc");
    r.C_us = asSigned<decltype(R::C_us)>(o.cus, h.radians, h.bits, "C us");
    r.C_ic = asSigned<decltype(R::C_ic)>(o.cic, h.radians, h.bits, "C ic");
    r.C_is = asSigned<decltype(R::C_is)>(o.cis, h.radians, h.bits, "C is");
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
    r->Week_Number = kGpsWeek % 1024;
    r->SV_Accuracy = 0;
    r->Code_On_L2 = 1;
    r->IODE = uint8_t(s.issueOfData);
    r->IODC = uint16_t(s.issueOfData);
    r->t_oc = asUnsigned<uint16_t>(s.orbit.toe, 16, 16, "t oc");
    r->t_oe = r->t_oc;
    r->a_f2 = 0;
    r->a_f1 = asSigned<int16_t>(s.clockDrift, pow2(-43), 16, "a f1");
    r->a_f0 = asSigned<int32_t>(s.clockBias, pow2(-31), 22, "a f0");
    fillOrbit(*r, s.orbit, kNarrowHarmonics);
    r->T_gd = asSigned<int8_t>(-1.1e-8 + 3e-9 * wobble(seedOf(s)), pow2(-31), 8, "T gd");
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
    r.t_oc = asUnsigned<uint16_t>(s.orbit.toe, 60, 14, "t oc");
    r.t_oe = r.t_oc;
    r.a_f2 = 0;
    r.a_f1 = asSigned<int32_t>(s.clockDrift, pow2(-46), 21, "a f1");
    r.a_f0 = asSigned<int32_t>(s.clockBias, pow2(-34), 31, "a f0");
    fillOrbit(r, s.orbit, kNarrowHarmonics);
    r.BGD_E1_E5a = asSigned<int16_t>(1.8e-9 + 1e-9 * wobble(seedOf(s)), pow2(-32), 10, "BGD E1,E5a");
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
    r->BGD_E1_E5b = asSigned<int16_t>(2.1e-9 + 1e-9 * wobble(seedOf(s) + 1), pow2(-32), 10, "BGD E1,E5b");
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
    r->t_oc = asUnsigned<uint32_t>(s.orbit.toe, 8, 17, "t oc");
    r->t_oe = r->t_oc;
    r->a_2 = 0;
    r->a_1 = asSigned<int32_t>(s.clockDrift, pow2(-50), 22, "a 1");
    r->a_0 = asSigned<int32_t>(s.clockBias, pow2(-33), 24, "a 0");
    fillOrbit(*r, s.orbit, kBeiDouHarmonics);
    r->T_GD1 = asSigned<int16_t>(5e-9 * wobble(seedOf(s)), 1e-10, 10, "T GD1");
    r->T_GD2 = asSigned<int16_t>(-2e-9 + 1e-9 * wobble(seedOf(s) + 1), 1e-10, 10, "T GD2");
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

template <typename Magnitude>
void putSignMagnitude(uint8_t& sign, Magnitude& magnitude, const char* what, double value, double scale,
                      int bits)
{
    const SignMagnitude sm = toSignMagnitude(value, scale, bits, what);
    sign = sm.sign;
    magnitude = static_cast<Magnitude>(sm.magnitude);
}

void fillGlonassTimes(Record<RTCM3_Message_Type_1020_s>& r, const EpochContext& c)
{
    const GlonassTime now = glonassFromGps(c.gpsTow);
    const int frameStart = int(now.secondOfDay) / 30 * 30;
    const int tb = int(std::lround(glonassFromGps(SkyModel::glonassReferenceTow()).secondOfDay)) / 900;
    r->tK = uint16_t((frameStart / 3600) << 7 | (frameStart % 3600 / 60) << 1 | (frameStart % 60 / 30));
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
    r->Satellite_ID = uint8_t(s.id);
    r->Channel_Number = uint8_t(s.glonassChannel + 7);
    r->Cn = 0;
    r->Cn_Available = 1;
    fillGlonassTimes(r, c);
    putSignMagnitude(r->x_SB, r->x_mag, "x", state.position.x, pow2(-11), 26);
    putSignMagnitude(r->y_SB, r->y_mag, "y", state.position.y, pow2(-11), 26);
    putSignMagnitude(r->z_SB, r->z_mag, "z", state.position.z, pow2(-11), 26);
    putSignMagnitude(r->dx_SB, r->dx_mag, "dx", state.velocity.x, pow2(-20), 23);
    putSignMagnitude(r->dy_SB, r->dy_mag, "dy", state.velocity.y, pow2(-20), 23);
    putSignMagnitude(r->dz_SB, r->dz_mag, "dz", state.velocity.z, pow2(-20), 23);
    // Lunar and solar accelerations: a few 1e-9 km/s^2.
    putSignMagnitude(r->ddx_SB, r->ddx_mag, "ddx", 2.8e-9 * wobble(seed + 1), pow2(-30), 4);
    putSignMagnitude(r->ddy_SB, r->ddy_mag, "ddy", 2.8e-9 * wobble(seed + 2), pow2(-30), 4);
    putSignMagnitude(r->ddz_SB, r->ddz_mag, "ddz", 2.8e-9 * wobble(seed + 3), pow2(-30), 4);
    // The satellite clock runs ahead of system time by clockBias at tb: tau is its negative.
    putSignMagnitude(r->gamma_SB, r->gamma_mag, "gamma", s.clockDrift, pow2(-40), 10);
    putSignMagnitude(r->tau_SB, r->tau_mag, "tau", -s.clockBias, pow2(-30), 21);
    putSignMagnitude(r->dtau_SB, r->dtau_mag, "dtau", 2.5e-9 * wobble(seed + 4), pow2(-30), 4);
    putSignMagnitude(r->tau_C_SB, r->tau_C_mag, "tau_C", -8.4e-9, pow2(-31), 31);
    putSignMagnitude(r->tau_GPS_SB, r->tau_GPS_mag, "tau_GPS", 3.7e-9, pow2(-30), 21);
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
