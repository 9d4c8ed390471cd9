// Every term of every Keplerian orbit the view builds against the scale of the interface
// documents, read literally: term k of a record gets the raw value k + 1, so a wrong scale
// or a term read from another field shows. Records are built by hand, as the decoder leaves
// them.

#include "view_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace Kvt;
using Gnss::KeplerEphemeris;
using Nuvrix::_RTCM3_message_t;

namespace {

constexpr double kSc = 3.1415926535898;  // semicircles to radians, as the documents define pi

// Assigns 1, 2, 3, ... to the fields in the order of kTerms.
template <typename... F>
void number(F&... fields)
{
    int k = 0;
    ((fields = static_cast<std::remove_reference_t<F>>(++k)), ...);
}

using Term = double KeplerEphemeris::*;
const Term kTerms[] = {&KeplerEphemeris::af0, &KeplerEphemeris::af1, &KeplerEphemeris::af2,
                       &KeplerEphemeris::crs, &KeplerEphemeris::crc, &KeplerEphemeris::cuc,
                       &KeplerEphemeris::cus, &KeplerEphemeris::cic, &KeplerEphemeris::cis,
                       &KeplerEphemeris::deltaN, &KeplerEphemeris::m0, &KeplerEphemeris::e,
                       &KeplerEphemeris::sqrtA, &KeplerEphemeris::omega0, &KeplerEphemeris::i0,
                       &KeplerEphemeris::omega, &KeplerEphemeris::omegaDot, &KeplerEphemeris::idot,
                       &KeplerEphemeris::tgd1};

struct Orbit {
    int number;
    std::function<void(_RTCM3_message_t&)> fill;
    double scale[std::size(kTerms)];
};

// Term k of a record: af0, af1, af2, crs, crc, cuc, cus, cic, cis, delta n, M0, e, sqrt A,
// OMEGA0, i0, omega, OMEGA dot, i dot, TGD (BGD E1/E5a, TGD1).
#define NUMBER_TERMS(r, af0, af1, af2, idot, tgd) \
    number(r.af0, r.af1, r.af2, r.C_rs, r.C_rc, r.C_uc, r.C_us, r.C_ic, r.C_is, r.Delta_n, r.M_0, r.e, r.SQRT_A, \
           r.OMEGA_0, r.i_0, r.omega, r.OMEGADOT, r.idot, r.tgd)

// GPS (IS-GPS-200 and the 1019 table) and QZSS share scales; NavIC, BeiDou and Galileo as
// their documents and message tables state them.
#define GPS_SCALES {0x1p-31, 0x1p-43, 0x1p-55, 0x1p-5, 0x1p-5, 0x1p-29, 0x1p-29, 0x1p-29, 0x1p-29, 0x1p-43 * kSc, \
    0x1p-31 * kSc, 0x1p-33, 0x1p-19, 0x1p-31 * kSc, 0x1p-31 * kSc, 0x1p-31 * kSc, 0x1p-43 * kSc, 0x1p-43 * kSc, 0x1p-31}
#define GALILEO_SCALES {0x1p-34, 0x1p-46, 0x1p-59, 0x1p-5, 0x1p-5, 0x1p-29, 0x1p-29, 0x1p-29, 0x1p-29, \
    0x1p-43 * kSc, 0x1p-31 * kSc, 0x1p-33, 0x1p-19, 0x1p-31 * kSc, 0x1p-31 * kSc, 0x1p-31 * kSc, 0x1p-43 * kSc, \
    0x1p-43 * kSc, 0x1p-32}
const Orbit kOrbits[] = {
    {1019, [](_RTCM3_message_t& m) { NUMBER_TERMS(m.Message_Type_1019, a_f0, a_f1, a_f2, IDOT, T_gd); }, GPS_SCALES},
    {1044, [](_RTCM3_message_t& m) { NUMBER_TERMS(m.Message_Type_1044, a_f0, a_f1, a_f2, i_0_DOT, T_gd); }, GPS_SCALES},
    {1041, [](_RTCM3_message_t& m) { NUMBER_TERMS(m.Message_Type_1041, a_f0, a_f1, a_f2, IDOT, T_GD); },
     {0x1p-31, 0x1p-43, 0x1p-55, 0x1p-4, 0x1p-4, 0x1p-28, 0x1p-28, 0x1p-28, 0x1p-28, 0x1p-41 * kSc, 0x1p-31 * kSc,
      0x1p-33, 0x1p-19, 0x1p-31 * kSc, 0x1p-31 * kSc, 0x1p-31 * kSc, 0x1p-41 * kSc, 0x1p-43 * kSc, 0x1p-31}},
    {1042, [](_RTCM3_message_t& m) { NUMBER_TERMS(m.Message_Type_1042, a_0, a_1, a_2, IDOT, T_GD1); },
     {0x1p-33, 0x1p-50, 0x1p-66, 0x1p-6, 0x1p-6, 0x1p-31, 0x1p-31, 0x1p-31, 0x1p-31, 0x1p-43 * kSc, 0x1p-31 * kSc,
      0x1p-33, 0x1p-19, 0x1p-31 * kSc, 0x1p-31 * kSc, 0x1p-31 * kSc, 0x1p-43 * kSc, 0x1p-43 * kSc, 1e-10}},
    {1045, [](_RTCM3_message_t& m) { NUMBER_TERMS(m.Message_Type_1045, a_f0, a_f1, a_f2, IDOT, BGD_E1_E5a); },
     GALILEO_SCALES},
    {1046, [](_RTCM3_message_t& m) { NUMBER_TERMS(m.Message_Type_1046, a_f0, a_f1, a_f2, IDOT, BGD_E1_E5a); },
     GALILEO_SCALES},
};

TEST(OrbitTerms, EveryTermAtTheScaleOfItsDocument)
{
    for (const Orbit& o : kOrbits) {
        viewtest::CollectSink sink;
        Nuvrix::View::GnssView view(sink);
        view.setTimeHint(Gnss::GpsTime(2300, 300000));
        _RTCM3_message_t r;
        std::memset(&r, 0, sizeof r);
        r.Message_Type_1019.Message_Number = uint16_t(o.number);
        o.fill(r);
        view.add(r);
        ASSERT_EQ(sink.kepler.size(), 1u) << o.number;
        for (size_t k = 0; k < std::size(kTerms); ++k) {
            const double expected = double(k + 1) * o.scale[k];
            EXPECT_NEAR(sink.kepler[0].*kTerms[k], expected, std::fabs(expected) * 1e-12) << o.number << " term " << k;
        }
    }
}

// GLONASS: sign and magnitude, km to m.
TEST(OrbitTerms, GlonassTermsAtTheirScales)
{
    viewtest::CollectSink sink;
    Nuvrix::View::GnssView view(sink);
    view.setTimeHint(Gnss::GpsTime(2300, 300000));
    _RTCM3_message_t m;
    std::memset(&m, 0, sizeof m);
    auto& r = m.Message_Type_1020;
    r.Message_Number = 1020;
    number(r.x_mag, r.y_mag, r.z_mag, r.dx_mag, r.dy_mag, r.dz_mag, r.ddx_mag, r.ddy_mag, r.ddz_mag, r.gamma_mag,
           r.tau_mag);
    r.y_SB = r.dz_SB = r.tau_SB = 1;
    view.add(m);
    ASSERT_EQ(sink.glonass.size(), 1u);
    const Gnss::GlonassEphemeris& g = sink.glonass[0];
    const double got[] = {g.positionM[0], g.positionM[1], g.positionM[2], g.velocityMps[0], g.velocityMps[1],
                          g.velocityMps[2], g.accelerationMps2[0], g.accelerationMps2[1], g.accelerationMps2[2],
                          g.gammaN, g.tauN};
    const double expected[] = {1 * 0x1p-11 * 1e3, -2 * 0x1p-11 * 1e3, 3 * 0x1p-11 * 1e3, 4 * 0x1p-20 * 1e3,
                               5 * 0x1p-20 * 1e3, -6 * 0x1p-20 * 1e3, 7 * 0x1p-30 * 1e3, 8 * 0x1p-30 * 1e3,
                               9 * 0x1p-30 * 1e3, 10 * 0x1p-40, -11 * 0x1p-30};
    for (size_t k = 0; k < std::size(got); ++k)
        EXPECT_NEAR(got[k], expected[k], std::fabs(expected[k]) * 1e-12) << "term " << k;
}

} // namespace
