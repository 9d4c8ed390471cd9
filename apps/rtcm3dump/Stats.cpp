#include "Stats.h"

#include "Output.h"

#include "RTCM3_codec.h"
#include "RTCM3_extension.h"
#include "RTCM3_reflect.h"

#include <QtCore/QDateTime>
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

// The entries of a table by number that counted anything.
template <typename Value>
QMap<int, Value> counted(const std::vector<Value> &byNumber, qint64 (*countOf)(const Value &))
{
    QMap<int, Value> map;
    for (size_t k = 0; k < byNumber.size(); ++k)
        if (countOf(byNumber[k]) > 0)
            map.insert(int(k), byNumber[k]);
    return map;
}

qint64 itself(const qint64 &n) { return n; }

// The system clock in UTC: when a summary was made.
QString now(bool iso)
{
    const QDateTime t = QDateTime::currentDateTimeUtc();
    return iso ? t.toString(Qt::ISODateWithMs) : t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss 'UTC'"));
}

} // namespace

QList<int> Stats::stationIds(const Counts &counts)
{
    QList<int> ids;
    for (int id = 0; id < kNumbers; ++id)
        if (counts.stations.test(size_t(id)))
            ids.append(id);
    return ids;
}

QMap<QString, qint64> Stats::errorsByName(const Counts &counts)
{
    QMap<QString, qint64> named;
    for (auto it = counts.errors.cbegin(); it != counts.errors.cend(); ++it)
        named[QString::fromLatin1(Kvt::Nuvrix::RTCM3_any_error_to_string(it.key()))] += it.value();
    return named;
}

Stats::Stats(OutputDevice &device, Style style)
    : mDevice(device), mOut(&device), mStyle(style)
{
}

void Stats::frame(const Frame &frame)
{
    mStation = frame.kind == Frame::Kind::Decoded && frame.record ? stationOf(*frame.record) : -1;
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
        if (mStation >= 0 && mStation < kNumbers)
            counts.stations.set(size_t(mStation));
        break;
    }
    case Frame::Kind::Unknown:
        ++counts.unknown[frame.number];
        break;
    case Frame::Kind::Failed:
        ++counts.errors[frame.result];
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

// Summaries list this many gaps of a station; the count covers them all.
constexpr int kGapsShown = 10;

void Stats::missingEpochs(int station, qint64 count, const QString &first, const QString &last)
{
    for (Counts *counts : {&mTotal, &mPeriod}) {
        counts->missing[station] += count;
        QList<Gap> &gaps = counts->gaps[station];
        if (gaps.size() < kGapsShown)
            gaps.append(Gap{count, first, last});
    }
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

int Stats::stationOf(const Kvt::Nuvrix::_RTCM3_message_t &record)
{
    namespace reflect = Kvt::Nuvrix::reflect;
    const int enumerator = record.header.kvtcg_message;
    if (enumerator < 0)
        return -1;
    if (size_t(enumerator) >= mStationFields.size())
        mStationFields.resize(size_t(enumerator) + 1);
    StationField &station = mStationFields[size_t(enumerator)];
    if (!station.known) {
        station.known = true;
        if (const reflect::RecordLayout *info = reflect::recordInfo(enumerator)) {
            station.messageNumber = info->messageNumber;
            for (uint16_t k = 0; k < info->fieldCount && !station.field; ++k)
                if (std::string_view(info->fields[k].name) == "Reference_Station_ID" && info->fields[k].kind == reflect::Kind::Scalar)
                    station.field = &info->fields[k];
        }
    }
    const reflect::Field *field = station.field;
    if (!field || (field->present && !field->present(station.messageNumber, &record)))
        return -1;
    return int(reflect::numberAt(*field, reinterpret_cast<const char *>(&record) + field->offset, 0).u);
}

void Stats::printPeriod(double seconds)
{
    mPeriods = true;
    if (mStyle == Style::Json)
        mOut << QJsonDocument(toJson(mPeriod, seconds)).toJson(QJsonDocument::Compact) << '\n';
    else
        printText(mPeriod, seconds);
    mPeriod = Counts();
    flush();
}

void Stats::printTotal()
{
    if (mStyle == Style::Json) {
        mOut << QJsonDocument(toJson(mTotal, -1)).toJson(QJsonDocument::Compact) << '\n';
    } else {
        // After the periods' summaries the total says what it is.
        if (mPeriods)
            mOut << "total of the run until " << now(false) << '\n';
        printText(mTotal, -1);
    }
    flush();
}

// Without a period (the whole run) only counts: rates over the run's own duration would
// tell how fast a file was read rather than how the stream flowed.
void Stats::printText(const Counts &counts, double seconds)
{
    if (seconds >= 0)
        mOut << "period: " << rate(seconds) << " s until " << now(false) << '\n';
    mOut << "frames: " << counts.frames << '\n';
    mOut << "CRC errors: " << counts.crcErrors << '\n';
    mOut << "dropped bytes: " << counts.droppedBytes << '\n';
    mOut << "filtered frames: " << counts.filtered << '\n';
    mOut << "empty frames: " << counts.empty << '\n';
    mOut << "frames with bytes after the last field: " << counts.trailing << '\n';
    QStringList ids;
    for (int id : stationIds(counts))
        ids << QString::number(id);
    mOut << "station IDs: " << (ids.isEmpty() ? QStringLiteral("none") : ids.join(QStringLiteral(", "))) << '\n';
    const QMap<int, PerType> decoded = counted(counts.decoded, &PerType::countOf);
    mOut << "decoded by message type:" << (decoded.isEmpty() ? " none" : "") << '\n';
    for (auto it = decoded.cbegin(); it != decoded.cend(); ++it) {
        mOut << "  " << it.key() << ": " << it.value().count;
        if (seconds > 0)
            mOut << ", " << rate(it.value().count / seconds) << " Hz, " << rate(it.value().bytes / seconds) << " B/s";
        mOut << '\n';
    }
    const QMap<int, qint64> unknown = counted(counts.unknown, &itself);
    mOut << "unknown message numbers:" << (unknown.isEmpty() ? " none" : "") << '\n';
    for (auto it = unknown.cbegin(); it != unknown.cend(); ++it)
        mOut << "  " << it.key() << ": " << it.value() << '\n';
    const QMap<QString, qint64> errors = errorsByName(counts);
    mOut << "decode errors:" << (errors.isEmpty() ? " none" : "") << '\n';
    for (auto it = errors.cbegin(); it != errors.cend(); ++it)
        mOut << "  " << it.key() << ": " << it.value() << '\n';
    if (!counts.latency.isEmpty()) {
        mOut << "latency by station:\n";
        for (auto it = counts.latency.cbegin(); it != counts.latency.cend(); ++it)
            mOut << "  " << it.key() << ": mean " << QString::number(it.value().sum / it.value().count, 'f', 3)
                 << " s, largest " << QString::number(it.value().largest, 'f', 3) << " s\n";
    }
    printMissing(counts);
}

void Stats::printMissing(const Counts &counts)
{
    if (counts.missing.isEmpty())
        return;
    mOut << "missing epochs by station:\n";
    for (auto it = counts.missing.cbegin(); it != counts.missing.cend(); ++it) {
        mOut << "  " << it.key() << ": " << it.value() << '\n';
        qint64 listed = 0;
        for (const Gap &gap : counts.gaps.value(it.key())) {
            mOut << "    " << gap.first;
            if (gap.last != gap.first)
                mOut << " to " << gap.last;
            mOut << " GPST: " << gap.count << '\n';
            listed += gap.count;
        }
        if (listed < it.value())
            mOut << "    and " << it.value() - listed << " more\n";
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
    if (seconds >= 0) {
        object.insert(QStringLiteral("seconds"), seconds);
        object.insert(QStringLiteral("time"), now(true));
    }
    QJsonArray ids;
    for (int id : stationIds(counts))
        ids.append(id);
    object.insert(QStringLiteral("stations"), ids);
    object.insert(QStringLiteral("decoded"), mapToJson(counted(counts.decoded, &PerType::countOf), [seconds](const PerType &type) {
        QJsonObject entry{{QStringLiteral("count"), type.count}, {QStringLiteral("bytes"), type.bytes}};
        if (seconds > 0) {
            entry.insert(QStringLiteral("hz"), type.count / seconds);
            entry.insert(QStringLiteral("bytesPerSecond"), type.bytes / seconds);
        }
        return entry;
    }));
    object.insert(QStringLiteral("unknown"), mapToJson(counted(counts.unknown, &itself), [](qint64 n) { return QJsonValue(n); }));
    object.insert(QStringLiteral("errors"), mapToJson(errorsByName(counts), [](qint64 n) { return QJsonValue(n); }));
    if (!counts.latency.isEmpty())
        object.insert(QStringLiteral("latency"), mapToJson(counts.latency, [](const Latency &l) {
            return QJsonObject{{QStringLiteral("mean"), l.sum / l.count}, {QStringLiteral("largest"), l.largest}};
        }));
    if (!counts.missing.isEmpty()) {
        object.insert(QStringLiteral("missingEpochs"), mapToJson(counts.missing, [](qint64 n) { return QJsonValue(n); }));
        object.insert(QStringLiteral("missingEpochGaps"), mapToJson(counts.gaps, [](const QList<Gap> &gaps) {
            QJsonArray list;
            for (const Gap &gap : gaps)
                list.append(QJsonObject{{QStringLiteral("first"), gap.first}, {QStringLiteral("last"), gap.last},
                                        {QStringLiteral("count"), gap.count}});
            return list;
        }));
    }
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
