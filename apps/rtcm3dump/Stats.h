#pragma once
// What rtcm3dump saw, as a summary at the end and, for a stream monitor, every few seconds:
// frames per message type with their rate and bytes per second, stations, CRC errors and
// dropped bytes, filtered, empty and undecodable frames, unknown message numbers.

#include "Frame.h"
#include "RTCM3_families.h"

#include <QtCore/QJsonObject>
#include <QtCore/QMap>
#include <QtCore/QTextStream>

#include <bitset>
#include <vector>

class OutputDevice;
namespace Kvt::Nuvrix::layout { struct Field; }

class Stats : public FrameSink
{
public:
    enum class Style { Text, Json };
    Stats(OutputDevice &device, Style style);

    void frame(const Frame &frame) override;
    void filtered(const Frame &frame) override;
    void crcError() override;
    void droppedBytes(unsigned count) override;
    void flush() override;
    QString writeError() const override;

    // A dated observation epoch of a station: arrival by the system clock minus the epoch's
    // time, on live input. Summaries show the mean and largest latency per station.
    void datedEpoch(int station, double latencySeconds);
    // Epochs a station's stream skipped, by its own interval: `count` of them, the first
    // and the last at these GPST times ("2021-02-05T15:44:09.000").
    void missingEpochs(int station, qint64 count, const QString &first, const QString &last);

    // The summary of the period that just ended, which lasted `seconds`; a new one begins.
    void printPeriod(double seconds);
    // The summary of the whole run; `frames: N` is its first line.
    void printTotal();

private:
    static constexpr int kNumbers = int(Kvt::Nuvrix::wire::Frame::Message_Number.highest) + 1;
    struct PerType
    {
        qint64 count = 0;
        qint64 bytes = 0;
        static qint64 countOf(const PerType &type) { return type.count; }
    };
    struct Gap
    {
        qint64 count = 0;
        QString first;
        QString last;
    };
    struct Latency
    {
        qint64 count = 0;
        double sum = 0;
        double largest = 0;
    };
    struct Counts
    {
        qint64 frames = 0;
        qint64 crcErrors = 0;
        qint64 droppedBytes = 0;
        qint64 filtered = 0;
        qint64 empty = 0;
        qint64 trailing = 0;  // frames with bytes after their last field
        // Flat by message number and station ID (both 12 bits): counted on every frame.
        std::bitset<kNumbers> stations;
        std::vector<PerType> decoded = std::vector<PerType>(kNumbers);
        std::vector<qint64> unknown = std::vector<qint64>(kNumbers);
        QMap<int32_t, qint64> errors; // by code: named only when printed
        QMap<int, Latency> latency;   // by station
        QMap<int, qint64> missing;    // epochs, by station
        QMap<int, QList<Gap>> gaps;   // the first few, by station
    };

    void count(const Frame &frame, Counts &counts) const;
    static QList<int> stationIds(const Counts &counts);
    static QMap<QString, qint64> errorsByName(const Counts &counts);
    int stationOf(const Kvt::Nuvrix::_RTCM3_message_t &record);
    void printText(const Counts &counts, double seconds);
    void printMissing(const Counts &counts);
    QJsonObject toJson(const Counts &counts, double seconds) const;

    OutputDevice &mDevice;
    QTextStream mOut;
    Style mStyle;
    Counts mTotal;
    Counts mPeriod;
    // The station member of each record type, found once: null where it has none.
    struct StationField
    {
        bool known = false;
        const Kvt::Nuvrix::layout::Field *field = nullptr;
        uint16_t messageNumber = 0;
    };
    std::vector<StationField> mStationFields;  // by record enumerator
    int mStation = -1;  // of the frame being counted
    bool mPeriods = false;  // a period's summary was printed
};
