#include "GnssOutputs.h"

#include "Output.h"
#include "Stats.h"

#include "GnssFormat.h"

#include <QtCore/QDateTime>

#include <cmath>
#include <cstdio>

using namespace Kvt;

namespace {

Gnss::GpsTime clockNow()
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const QDate d = now.date();
    const QTime t = now.time();
    return Gnss::GpsTime::fromUtc({d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second() + t.msec() / 1000.0});
}

void tell(const Nuvrix::View::ViewNotice &notice)
{
    std::fprintf(stderr, "rtcm3dump: %s\n", notice.text.c_str());
}

} // namespace

template <class View>
void ViewSetup::apply(View &view) const
{
    // The clock only picks the era of 10-bit weeks, unless the input is live from the network.
    view.setClock(clockNow());
    view.setLiveInput(liveNetwork);
    if (hint)
        view.setTimeHint(*hint);
    for (const auto &[slot, channel] : glonassChannels)
        view.setGlonassChannel(slot, channel);
}

ObservationPrinter::ObservationPrinter(OutputDevice &device, bool json, const ViewSetup &time)
    : mDevice(device), mJson(json), mView(*this)
{
    mLine.reserve(64 * 1024);
    time.apply(mView);
}

void ObservationPrinter::frame(const Frame &frame)
{
    if (frame.record)
        mView.add(*frame.record);
}

void ObservationPrinter::finish() { mView.finish(); }
void ObservationPrinter::flush() { mDevice.flush(); }
QString ObservationPrinter::writeError() const { return mDevice.failure(); }

void ObservationPrinter::write()
{
    mDevice.write(mLine.data(), qint64(mLine.size()));
    mLine.clear();
}

void ObservationPrinter::epoch(const Gnss::ObservationEpoch &epoch)
{
    mJson ? Gnss::appendEpochJson(mLine, epoch) : Gnss::appendEpochText(mLine, epoch);
    write();
}

void ObservationPrinter::stationPosition(const Gnss::StationPosition &position)
{
    mJson ? Gnss::appendStationPositionJson(mLine, position) : Gnss::appendStationPositionText(mLine, position);
    write();
}

void ObservationPrinter::stationDescription(const Gnss::StationDescription &description)
{
    mJson ? Gnss::appendStationDescriptionJson(mLine, description)
          : Gnss::appendStationDescriptionText(mLine, description);
    write();
}

void ObservationPrinter::stationText(const Gnss::StationText &text)
{
    mJson ? Gnss::appendStationTextJson(mLine, text) : Gnss::appendStationTextText(mLine, text);
    write();
}

// Orbits and biases have no text form: they are JSON lines only.
void ObservationPrinter::keplerEphemeris(const Gnss::KeplerEphemeris &ephemeris)
{
    if (mJson) {
        Gnss::appendKeplerJson(mLine, ephemeris);
        write();
    }
}

void ObservationPrinter::glonassEphemeris(const Gnss::GlonassEphemeris &ephemeris)
{
    if (mJson) {
        Gnss::appendGlonassJson(mLine, ephemeris);
        write();
    }
}

void ObservationPrinter::glonassBiases(const Gnss::GlonassBiases &biases)
{
    if (mJson) {
        Gnss::appendGlonassBiasesJson(mLine, biases);
        write();
    }
}

void ObservationPrinter::notice(const Nuvrix::View::ViewNotice &notice) { tell(notice); }

EpochMonitor::EpochMonitor(Stats &stats, bool live, const ViewSetup &time)
    : mStats(stats), mLive(live), mView(*this)
{
    time.apply(mView);
}

void EpochMonitor::frame(const Frame &frame)
{
    if (frame.record)
        mView.add(*frame.record);
}

void EpochMonitor::epoch(const Gnss::ObservationEpoch &epoch)
{
    if (mLive)
        mStats.datedEpoch(epoch.stationId, clockNow() - epoch.time);
    const auto [it, first] = mCadence.try_emplace(epoch.stationId, Cadence{epoch.time, 0});
    if (first)
        return;
    Cadence &c = it->second;
    const double step = epoch.time - c.last;
    if (step <= 0)
        return;  // a second epoch of the same instant (MSM after legacy), or out of order
    const Gnss::GpsTime previous = c.last;
    c.last = epoch.time;
    if (c.intervalS <= 0 || step < c.intervalS)
        c.intervalS = step;
    const auto skipped = std::llround(step / c.intervalS) - 1;
    if (skipped > 0)
        mStats.missingEpochs(epoch.stationId, skipped,
                             QString::fromStdString(previous.plusSeconds(c.intervalS).toIso()),
                             QString::fromStdString(epoch.time.plusSeconds(-c.intervalS).toIso()));
}

namespace {

Gnss::RinexConverterOptions rinexOptions(const std::string &directory, const std::string &marker, bool live)
{
    Gnss::RinexConverterOptions options;
    options.directory = directory;
    options.markerName = marker;
    options.program = "rtcm3dump";
    options.flushEachEpoch = live;
    return options;
}

} // namespace

RinexWriter::RinexWriter(const std::string &directory, const std::string &marker, bool live, const ViewSetup &time)
    : mConversion(rinexOptions(directory, marker, live))
{
    time.apply(mConversion);
    mConversion.setNoticeHandler(tell);
}

void RinexWriter::survey(const Frame &frame)
{
    if (frame.record)
        mConversion.survey(*frame.record);
}

void RinexWriter::frame(const Frame &frame)
{
    if (frame.record)
        mConversion.add(*frame.record);
}

bool RinexWriter::finish(OutputDevice &device, QString *error)
{
    const std::vector<std::string> names = mConversion.finish();
    if (!mConversion.error().empty()) {
        *error = QString::fromStdString(mConversion.error());
        return false;
    }
    for (const std::string &name : names) {
        device.write(name.data(), qint64(name.size()));
        device.write("\n", 1);
    }
    return true;
}
