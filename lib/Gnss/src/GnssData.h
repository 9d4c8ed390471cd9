#pragma once
// What a reference station tells: observation epochs, its position and equipment, and the
// broadcast orbits and clocks of the satellites it sees, in SI units at GPS time. Producers
// (a transport format's decoder) fill these; writers (RINEX, JSON, monitors) read them.

#include "Geodesy.h"
#include "GnssIds.h"
#include "GnssTime.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Kvt::Gnss {

// One signal of one satellite at one epoch. A value the receiver marked invalid is absent.
struct Observation {
    SignalCode code;
    std::optional<double> pseudorangeM;
    std::optional<double> phaseCycles;
    std::optional<double> dopplerHz;     // sign as RINEX: positive for an approaching satellite
    std::optional<double> cn0DbHz;
    std::optional<double> lockTimeS;     // the phase has been tracked without a slip at least this long
    bool halfCycleAmbiguity = false;     // the phase may be off by half a cycle
};

struct SatelliteObservations {
    SatId sat;
    std::optional<int> glonassChannel;   // -7..+6 where known
    std::vector<Observation> observations;  // one per signal, ordered by band, then attribute
};

// All observations of one station at one instant, across constellations.
struct ObservationEpoch {
    uint16_t stationId = 0;
    GpsTime time;
    std::vector<SatelliteObservations> satellites;  // ordered by system, then number
    int clockSteering = -1;             // 0 off, 1 on, -1 unknown
};

struct StationPosition {
    uint16_t stationId = 0;
    Ecef ecef;                          // antenna reference point, m
    std::optional<double> antennaHeightM;
    bool virtualStation = false;
    Geodetic geodetic() const { return ecefToGeodetic(ecef); }
};

struct StationDescription {
    uint16_t stationId = 0;
    std::string antennaDescriptor;
    int antennaSetupId = 0;
    std::string antennaSerialNumber;
    std::string receiverDescriptor;
    std::string receiverFirmwareVersion;
    std::string receiverSerialNumber;
};

// A free text a station sends, with the UTC instant it carries, as a GPS instant.
struct StationText {
    uint16_t stationId = 0;
    GpsTime time;
    std::string text;                   // the bytes as sent (UTF-8 by intent, not checked)
};

// Keplerian broadcast ephemeris of GPS, Galileo, BeiDou, QZSS and NavIC. Angles in radians,
// rates in radians per second, times as GPS instants resolved to their full week.
struct KeplerEphemeris {
    SatId sat;
    int messageNumber = 0;              // which broadcast it came from (Galileo F/NAV vs I/NAV)
    GpsTime toc;                        // clock reference time
    GpsTime toe;                        // ephemeris reference time
    int32_t week = 0;                   // the system's own full week number (GPS, GST or BDT)
    double af0 = 0, af1 = 0, af2 = 0;   // s, s/s, s/s^2
    double crs = 0, crc = 0;            // m
    double cuc = 0, cus = 0, cic = 0, cis = 0;  // rad
    double deltaN = 0;                  // rad/s
    double m0 = 0, omega0 = 0, i0 = 0, omega = 0;  // rad
    double omegaDot = 0, idot = 0;      // rad/s
    double e = 0;
    double sqrtA = 0;                   // m^0.5
    int iode = 0;                       // IODE (GPS, QZSS, NavIC), IODnav (Galileo), AODE (BeiDou)
    int iodc = 0;                       // IODC (GPS, QZSS), AODC (BeiDou)
    double tgd1 = 0, tgd2 = 0;          // s: GPS/QZSS/NavIC TGD; Galileo BGD E5a/E1, E5b/E1; BeiDou TGD1, TGD2
    int health = 0;                     // Galileo: bit 0 E1-B DVS, 1-2 E1-B HS, 3 E5a DVS, 4-5 E5a HS,
                                        // 6 E5b DVS, 7-8 E5b HS (the signals the message covers)
    int accuracyIndex = 0;              // URA, SISA or URAI index as broadcast
    int codesOnL2 = 0, l2pDataFlag = 0;
    int fitIntervalFlag = 0;
    int dataSources = 0;                // Galileo: which navigation message and signals
    std::optional<GpsTime> transmissionTime;  // when the message was sent, where known
};

// GLONASS broadcast ephemeris: position, velocity and acceleration in PZ-90 at toe.
struct GlonassEphemeris {
    SatId sat;
    int frequencyChannel = 0;           // -7..+6
    GpsTime toe;                        // tb as a GPS instant
    GpsTime frameTime;                  // tk as a GPS instant
    double tauN = 0;                    // s: the satellite clock is ahead of GLONASS time by tauN
    double gammaN = 0;                  // relative frequency bias
    std::array<double, 3> positionM{};
    std::array<double, 3> velocityMps{};
    std::array<double, 3> accelerationMps2{};
    int health = 0;                     // Bn
    int ageDays = 0;                    // En
    int tbIndex = 0;                    // tb in 15-minute units of the GLONASS day
    // Further broadcast terms, where the producer has them.
    std::optional<double> deltaTauNS;   // L1/L2 group delay difference, s
    std::optional<int> accuracyIndexFt; // F_T (GLONASS-M)
    struct Flags {
        int p = 0, p1 = 0, p2 = 0, p3 = 0, p4 = 0;  // P (2 bits), P1 (2 bits), P2, P3, P4
        int m = 0;                      // satellite type: 0 GLONASS, 1 GLONASS-M
        int ln3 = 0;                    // health bit l of string 3 (GLONASS-M)
        int almanacHealth = 0;          // Cn: 1 healthy
        bool almanacHealthAvailable = false;
    };
    std::optional<Flags> flags;
};

// GLONASS code-phase biases a station announces, m.
struct GlonassBiases {
    uint16_t stationId = 0;
    bool aligned = false;
    std::optional<double> l1ca, l1p, l2ca, l2p;
};

} // namespace Kvt::Gnss
