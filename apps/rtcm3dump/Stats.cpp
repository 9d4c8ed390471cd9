#include "Stats.h"

#include "Output.h"

#include "FieldInfo.h"
#include "FieldValue.h"
#include "Message.h"
#include "MessageInfo.h"
#include "RTCM3_codec.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>

#include <algorithm>

namespace {

QString rate(double value)
{
    return QString::number(value, 'f', 2);
}

template <typename Key, typename Value, typename Entry>
QJsonObject mapToJson(const QMap<Key, Value> &map, Entry entry)
{
    QJsonObject object;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        object.insert(QVariant(it.key()).toString(), entry(it.value()));
    return object;
}

} // namespace

Stats::Stats(OutputDevice &device, Style style)
    : mDevice(device), mOut(&device), mStyle(style)
{
}

void Stats::frame(const Frame &frame)
{
    mStation = frame.kind == Frame::Kind::Decoded ? stationOf(frame.message) : -1;
    count(frame, mTotal);
    count(frame, mPeriod);
}

void Stats::count(const Frame &frame, Counts &counts) const
{
    ++counts.frames;
    switch (frame.kind) {
    case Frame::Kind::Decoded:
    case Frame::Kind::Undescribed: {
        PerType &type = counts.decoded[frame.number];
        ++type.count;
        type.bytes += frame.bytes.size();
        counts.trailing += frame.trailingBytes > 0;
        if (mStation >= 0)
            counts.stations.insert(mStation);
        break;
    }
    case Frame::Kind::Unknown:
        ++counts.unknown[frame.number];
        break;
    case Frame::Kind::Failed:
        ++counts.errors[QString::fromLatin1(Kvt::Nuvrix::RTCM3_error_to_string(frame.result))];
        break;
    case Frame::Kind::Empty:
        ++counts.empty;
        break;
    }
}

void Stats::filtered(const Frame &)
{
    for (Counts *counts : {&mTotal, &mPeriod}) {
        ++counts->frames;
        ++counts->filtered;
    }
}

void Stats::crcError()
{
    ++mTotal.crcErrors;
    ++mPeriod.crcErrors;
}

void Stats::droppedBytes(unsigned count)
{
    mTotal.droppedBytes += count;
    mPeriod.droppedBytes += count;
}

void Stats::missingEpochs(int station, qint64 count)
{
    mTotal.missing[station] += count;
    mPeriod.missing[station] += count;
}

void Stats::datedEpoch(int station, double latencySeconds)
{
    for (Counts *counts : {&mTotal, &mPeriod}) {
        Latency &latency = counts->latency[station];
        ++latency.count;
        latency.sum += latencySeconds;
        latency.largest = latency.count == 1 ? latencySeconds : std::max(latency.largest, latencySeconds);
    }
}

int Stats::stationOf(const Message *message)
{
    const MessageInfo *info = message->getMessageInfo();
    auto found = mStationFields.constFind(info);
    if (found == mStationFields.cend())
        found = mStationFields.insert(info, info->findFieldInfo(QStringLiteral("Reference Station ID")));
    const FieldInfo *field = found.value();
    if (!field || !field->isPresent(message))
        return -1;
    return int(field->getValue(message, 0).toUnsigned());
}

void Stats::printPeriod(double seconds)
{
    if (mStyle == Style::Json)
        mOut << QJsonDocument(toJson(mPeriod, seconds)).toJson(QJsonDocument::Compact) << '\n';
    else
        printText(mPeriod, seconds);
    mPeriod = Counts();
    flush();
}

void Stats::printTotal()
{
    if (mStyle == Style::Json)
        mOut << QJsonDocument(toJson(mTotal, -1)).toJson(QJsonDocument::Compact) << '\n';
    else
        printText(mTotal, -1);
    flush();
}

// Without a period (the whole run) only counts: rates over the run's own duration would
// tell how fast a file was read rather than how the stream flowed.
void Stats::printText(const Counts &counts, double seconds)
{
    mOut << "frames: " << counts.frames << '\n';
    if (seconds >= 0)
        mOut << "period: " << rate(seconds) << " s\n";
    mOut << "CRC errors: " << counts.crcErrors << '\n';
    mOut << "dropped bytes: " << counts.droppedBytes << '\n';
    mOut << "filtered frames: " << counts.filtered << '\n';
    mOut << "empty frames: " << counts.empty << '\n';
    mOut << "frames with bytes after the last field: " << counts.trailing << '\n';
    QList<int> stations = counts.stations.values();
    std::sort(stations.begin(), stations.end());
    QStringList ids;
    for (int id : stations)
        ids << QString::number(id);
    mOut << "stations: " << (ids.isEmpty() ? QStringLiteral("none") : ids.join(QStringLiteral(", "))) << '\n';
    mOut << "decoded by message type:" << (counts.decoded.isEmpty() ? " none" : "") << '\n';
    for (auto it = counts.decoded.cbegin(); it != counts.decoded.cend(); ++it) {
        mOut << "  " << it.key() << ": " << it.value().count;
        if (seconds > 0)
            mOut << ", " << rate(it.value().count / seconds) << " Hz, " << rate(it.value().bytes / seconds) << " B/s";
        mOut << '\n';
    }
    mOut << "unknown message numbers:" << (counts.unknown.isEmpty() ? " none" : "") << '\n';
    for (auto it = counts.unknown.cbegin(); it != counts.unknown.cend(); ++it)
        mOut << "  " << it.key() << ": " << it.value() << '\n';
    mOut << "decode errors:" << (counts.errors.isEmpty() ? " none" : "") << '\n';
    for (auto it = counts.errors.cbegin(); it != counts.errors.cend(); ++it)
        mOut << "  " << it.key() << ": " << it.value() << '\n';
    if (!counts.latency.isEmpty()) {
        mOut << "latency by station:\n";
        for (auto it = counts.latency.cbegin(); it != counts.latency.cend(); ++it)
            mOut << "  " << it.key() << ": mean " << QString::number(it.value().sum / it.value().count, 'f', 3)
                 << " s, largest " << QString::number(it.value().largest, 'f', 3) << " s\n";
    }
    if (!counts.missing.isEmpty()) {
        mOut << "missing epochs by station:\n";
        for (auto it = counts.missing.cbegin(); it != counts.missing.cend(); ++it)
            mOut << "  " << it.key() << ": " << it.value() << '\n';
    }
}

QJsonObject Stats::toJson(const Counts &counts, double seconds) const
{
    QJsonObject object{
        {QStringLiteral("summary"), seconds >= 0 ? QStringLiteral("period") : QStringLiteral("total")},
        {QStringLiteral("frames"), counts.frames},
        {QStringLiteral("crcErrors"), counts.crcErrors},
        {QStringLiteral("droppedBytes"), counts.droppedBytes},
        {QStringLiteral("filteredFrames"), counts.filtered},
        {QStringLiteral("emptyFrames"), counts.empty},
        {QStringLiteral("framesWithBytesAfterLastField"), counts.trailing},
    };
    if (seconds >= 0)
        object.insert(QStringLiteral("seconds"), seconds);
    QList<int> stations = counts.stations.values();
    std::sort(stations.begin(), stations.end());
    QJsonArray ids;
    for (int id : stations)
        ids.append(id);
    object.insert(QStringLiteral("stations"), ids);
    object.insert(QStringLiteral("decoded"), mapToJson(counts.decoded, [seconds](const PerType &type) {
        QJsonObject entry{{QStringLiteral("count"), type.count}, {QStringLiteral("bytes"), type.bytes}};
        if (seconds > 0) {
            entry.insert(QStringLiteral("hz"), type.count / seconds);
            entry.insert(QStringLiteral("bytesPerSecond"), type.bytes / seconds);
        }
        return entry;
    }));
    object.insert(QStringLiteral("unknown"), mapToJson(counts.unknown, [](qint64 n) { return QJsonValue(n); }));
    object.insert(QStringLiteral("errors"), mapToJson(counts.errors, [](qint64 n) { return QJsonValue(n); }));
    if (!counts.latency.isEmpty())
        object.insert(QStringLiteral("latency"), mapToJson(counts.latency, [](const Latency &l) {
            return QJsonObject{{QStringLiteral("mean"), l.sum / l.count}, {QStringLiteral("largest"), l.largest}};
        }));
    if (!counts.missing.isEmpty())
        object.insert(QStringLiteral("missingEpochs"), mapToJson(counts.missing, [](qint64 n) { return QJsonValue(n); }));
    return object;
}

void Stats::flush()
{
    mOut.flush();
    mDevice.flush();
}

QString Stats::writeError() const
{
    return mDevice.failure();
}
