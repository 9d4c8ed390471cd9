#pragma once
// RINEX 3.05 (3.04, 2.11) mixed observation files from observation epochs.
//
// A header must list every observation type before the first epoch is written, but a stream
// shows its types only as it goes. The writer therefore takes the epochs a caller has held
// back (a first pass over a file, or a bounded look-ahead on a live stream) and writes the
// header from them; an observation of a type that first appears later has no column and is
// dropped and counted, never written under another type.

#include "GnssData.h"
#include "RinexNames.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace Kvt::Gnss {

// What a run of epochs shows the header: the observation types of each system, GLONASS
// channels, first and last epoch and the commonest step. A first pass over a file fills one
// without holding the epochs.
class RinexObsSurvey {
public:
    enum Kind { Code, Phase, Doppler, Strength, KindCount };

    void add(const ObservationEpoch& epoch);
    // A type the epochs will hold though the surveyed ones did not show it.
    void addType(System system, SignalCode code, Kind kind) { mSeen[size_t(system)].insert({code, kind}); }
    void addGlonassChannel(int slot, int channel) { mChannels[slot] = channel; }
    // The types and channels `other` saw, besides these epochs' own.
    void addTypesOf(const RinexObsSurvey& other);

    uint64_t epochs() const { return mEpochs; }
    std::optional<uint16_t> stationId() const { return mStationId; }
    std::optional<GpsTime> first() const { return mFirst; }
    std::optional<GpsTime> last() const { return mLast; }
    // The commonest step between consecutive epochs, to the millisecond.
    std::optional<double> intervalS() const;
    // From the first epoch to the end of the last one's interval.
    double spanS() const;
    const std::map<int, int>& glonassChannels() const { return mChannels; }
    // Every (signal, kind) that held a value, per system.
    const std::set<std::pair<SignalCode, int>>& seen(System system) const { return mSeen[size_t(system)]; }

private:
    std::array<std::set<std::pair<SignalCode, int>>, kSystemCount> mSeen;
    std::map<int, int> mChannels;
    // Steps between epochs in time order: a stream may send an instant late (a receiver that
    // stamps BeiDou with GPS time puts it 14 s ahead), so the times pass a small sorted window.
    static constexpr size_t kStepWindow = 64;
    void countSteps(std::set<long long>& window, std::optional<long long>& previous,
                    std::map<long long, uint64_t>& steps, size_t keep) const;
    std::set<long long> mWindowMs;
    std::optional<long long> mPreviousMs;
    std::map<long long, uint64_t> mSteps;
    std::optional<GpsTime> mFirst, mLast;
    std::optional<uint16_t> mStationId;
    uint64_t mEpochs = 0;
};

// Which signals fill the two-letter observation types of RINEX 2.11 (C1, P1, L1, D1, S1, C2, ...):
// for each system and band the signal attributes in order of preference. A type takes, satellite
// by satellite, the value of the first attribute on the list that has one; attributes not on
// the list, and systems RINEX 2.11 does not hold (G R E S), are not written.
class RinexSignalPriority {
public:
    // "G:12&CPWYMNSLX,R:12&CP,E:1&BCXZ,...": entries of a system letter, band digits (1 2 5 6 7 8)
    // and attribute letters, separated by commas or blanks; a later entry replaces an earlier
    // one's bands. Empty with `error` set where the text is not such a list.
    static std::optional<RinexSignalPriority> parse(std::string_view text, std::string* error);
    // The list used unless the user gives one.
    static const char* defaultText();
    static RinexSignalPriority defaults();

    // The attributes of one band in order of preference; empty where the band is not written.
    const std::string& attributes(System system, char band) const;

private:
    std::array<std::array<std::string, 10>, kSystemCount> mAttributes;
};

// What the header tells besides what the epochs show.
struct RinexObsHeader {
    std::string program = "nuvrixrtcm3";
    std::string runBy;
    std::string creationDate;             // "yyyymmdd hhmmss UTC"; empty: now
    std::string markerName;               // empty: the station ID of the first epoch
    std::string markerNumber;             // empty: no MARKER NUMBER line
    std::string markerType;               // empty: no MARKER TYPE line
    std::string observer, agency;
    std::optional<StationDescription> description;
    std::optional<StationPosition> position;
    std::optional<GlonassBiases> glonassBiases;
    std::map<int, int> glonassChannels;   // slot -> frequency channel, besides the epochs' own
    std::optional<int> leapSeconds;       // GPS - UTC, where the stream or the caller knows it
    std::optional<double> intervalS;      // empty: the commonest step of the survey
    std::optional<std::array<double, 3>> antennaDeltaHen;  // empty: the stream's antenna height
    std::vector<std::string> comments;
    RinexVersion version = RinexVersion::V3_05;
    RinexSignalPriority priority = RinexSignalPriority::defaults();  // for 2.11
};

class RinexObsWriter {
public:
    explicit RinexObsWriter(std::ostream& out);

    // Writes the header from `header` and from what `survey` saw.
    void begin(const RinexObsHeader& header, const RinexObsSurvey& survey);
    // Writes the header from the epochs held back, then those epochs.
    void begin(const RinexObsHeader& header, const std::vector<ObservationEpoch>& firstEpochs);
    // Writes one more epoch. An epoch not later than the last one written is dropped.
    void write(const ObservationEpoch& epoch);
    // Whether every value of `epoch` that RINEX can name has a column in this file.
    bool hasColumns(const ObservationEpoch& epoch) const;

    bool began() const { return mBegan; }
    // The types of each system as the header lists them: 'G' -> {"C1C", "L1C", ...}.
    const std::map<char, std::vector<std::string>>& observationTypes() const { return mTypes; }
    std::optional<GpsTime> firstEpoch() const { return mFirst; }
    std::optional<GpsTime> lastEpoch() const { return mLast; }
    std::optional<double> intervalS() const { return mInterval; }

    uint64_t epochsWritten() const { return mEpochsWritten; }
    uint64_t epochsDropped() const { return mEpochsDropped; }  // no value to write
    uint64_t epochsLate() const { return mEpochsLate; }        // not later than the last written
    // Observations that had no column, by system and type ("G C5Q"), and in all.
    const std::map<std::string, uint64_t>& droppedTypes() const { return mDroppedTypes; }
    uint64_t observationsDropped() const { return mObservationsDropped; }
    // Values too large for their field, written blank.
    uint64_t valuesBlanked() const { return mValuesBlanked; }

private:
    using Kind = RinexObsSurvey::Kind;
    static constexpr int KindCount = RinexObsSurvey::KindCount;
    // Columns of one system: for each band digit, attribute letter and kind, the column or -1,
    // and the signal's rank where several fill one column (RINEX 2.11), the lowest first.
    struct Columns {
        std::vector<std::string> types;
        std::array<int16_t, 10 * 26 * KindCount> index;
        std::array<uint8_t, 10 * 26 * KindCount> rank{};
        Columns() { index.fill(-1); }
        int column(SignalCode code, Kind kind) const;
        static size_t slot(SignalCode code, Kind kind);
    };
    struct Lock {
        GpsTime time;
        std::optional<double> lockTimeS;
    };
    struct Cell {
        double value;
        char lli, ssi;
        bool present;
        uint8_t rank;
    };

    bool version2() const { return mVersion == RinexVersion::V2_11; }
    void buildColumns(const RinexObsSurvey& survey);
    void buildColumns2(const RinexObsSurvey& survey);
    // The RINEX 2.11 type a signal fills ("P2"), empty for none; its rank in `rank`.
    std::string type2(System system, SignalCode code, Kind kind, uint8_t* rank) const;
    void writeHeader(const RinexObsHeader& header, const RinexObsSurvey& survey);
    void writeHeader2(const RinexObsHeader& header, const RinexObsSurvey& survey);
    // MARKER NAME (the station's number where none is given), NUMBER, TYPE (RINEX 3 only),
    // OBSERVER / AGENCY.
    static std::string markerLines(const RinexObsHeader& header, const RinexObsSurvey& survey, bool markerType);
    static std::string stationLines(const RinexObsHeader& header);
    std::string timeLines(const RinexObsSurvey& survey) const;
    bool fillCells(const SatelliteObservations& sat, const GpsTime& time);
    void appendSatellite2(const SatelliteObservations& sat, const GpsTime& time);
    void writeEpoch2(const ObservationEpoch& epoch, const std::vector<const SatelliteObservations*>& sats);
    void appendSatellite(const SatelliteObservations& sat, const GpsTime& time);
    char lossOfLock(const SatId& sat, const Observation& obs, const GpsTime& time);
    void drop(const SatId& sat, char kind, SignalCode code);

    std::ostream& mOut;
    bool mBegan = false;
    RinexVersion mVersion = RinexVersion::V3_05;
    RinexSignalPriority mPriority;
    std::vector<std::string> mTypes2;     // RINEX 2.11: one list for all systems
    std::array<Columns, kSystemCount> mColumns;
    std::map<char, std::vector<std::string>> mTypes;
    std::unordered_map<uint32_t, Lock> mLocks;
    std::vector<Cell> mCells;
    std::string mBuffer;
    std::optional<GpsTime> mFirst, mLast;
    std::optional<double> mInterval;
    uint64_t mEpochsWritten = 0, mEpochsDropped = 0, mEpochsLate = 0;
    uint64_t mObservationsDropped = 0, mValuesBlanked = 0;
    std::map<std::string, uint64_t> mDroppedTypes;
};

} // namespace Kvt::Gnss
