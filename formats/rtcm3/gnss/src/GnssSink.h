#pragma once
// What the engineering view hands on: observation epochs, station facts, orbits, and notices
// for a person.

#include "GnssData.h"

#include <cstddef>
#include <string>

namespace Kvt::Nuvrix::View {

// Something the reader of the view should know that is not data.
struct ViewNotice {
    enum class Kind {
        HeldBack,      // the first epoch without a time reference: epochs wait from here on
        Released,      // a reference came; `count` held items follow with their time
        Dropped,       // the holding space was full: `count` oldest items are lost, undated
        Undated,       // at finish, `count` items never got a reference and are not handed on
        BadTime,       // an epoch time outside its range, or ahead of the clock: not handed on
        Disagreement,  // evidence for the date disagrees: which is taken, which ignored
    };
    Kind kind = Kind::HeldBack;
    std::size_t count = 0;
    std::string text;   // one line for a person
};

class GnssSink {
public:
    virtual ~GnssSink() = default;
    virtual void epoch(const Gnss::ObservationEpoch&) {}
    virtual void stationPosition(const Gnss::StationPosition&) {}
    virtual void stationDescription(const Gnss::StationDescription&) {}
    virtual void stationText(const Gnss::StationText&) {}
    virtual void keplerEphemeris(const Gnss::KeplerEphemeris&) {}
    virtual void glonassEphemeris(const Gnss::GlonassEphemeris&) {}
    virtual void glonassBiases(const Gnss::GlonassBiases&) {}
    virtual void notice(const ViewNotice&) {}
};

} // namespace Kvt::Nuvrix::View
