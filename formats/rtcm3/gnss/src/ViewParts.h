#pragma once
// The parts of the view behind its interface: observation assembly and what waits for a
// date. Internal to the view.

#include "GnssView.h"
#include "ObservationAssembly.h"

#include "RTCM3_codec.h"

#include <variant>

namespace Kvt::Nuvrix::View {

struct GnssView::Parts : ObservationAssembly::Output {
    explicit Parts(GnssView& v) : view(v), assembly(*this, channels) {}
    void completed(Gnss::ObservationEpoch& epoch, const RawTime& time) override { view.epochCompleted(epoch, time); }
    void notice(const ViewNotice& n) override { view.mSink.notice(n); }
    int leapSeconds() const override { return view.leapSeconds(); }

    GnssView& view;
    GlonassChannels channels;
    ObservationAssembly assembly;
    // What the last station record gave, kept for the room of its texts.
    Gnss::StationDescription description;
    Gnss::StationText text;
};

struct GnssView::Waiting {
    struct Epoch {
        Gnss::ObservationEpoch epoch;
        RawTime time;
    };
    std::variant<Epoch, RTCM3_Message_Type_1019_s, RTCM3_Message_Type_1044_s,
                 RTCM3_Message_Type_1041_s, RTCM3_Message_Type_1020_s>
        item;
    std::optional<Gnss::GpsTime> near;  // once dated: the epoch's time, or the nearest epoch's
    std::size_t bytes = 0;

    // The memory it holds, near enough to bound what waits: by what it holds, not by the
    // room a reused item kept, so that the bound does not depend on what waited before.
    std::size_t size() const
    {
        std::size_t n = sizeof(Waiting);
        if (const auto* e = std::get_if<Epoch>(&item)) {
            n += e->epoch.satellites.size() * sizeof(Gnss::SatelliteObservations);
            for (const Gnss::SatelliteObservations& s : e->epoch.satellites)
                n += s.observations.size() * sizeof(Gnss::Observation);
        }
        return n;
    }
};

} // namespace Kvt::Nuvrix::View
