#pragma once
// Gathers the MSMs and legacy observation messages of one instant of one station into one
// epoch of observables in SI units, its time still as the messages give it. Internal to the
// view.

#include "GnssSink.h"
#include "RtcmSignals.h"
#include "ViewTime.h"

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace Kvt::Nuvrix {
union _RTCM3_message_t;
namespace family {
struct Msm;
struct LegacyObservables;
}
}

namespace Kvt::Nuvrix::View {

// The frequency channel (-7..+6) of each GLONASS slot, as far as told.
class GlonassChannels {
public:
    static constexpr int kLowest = -7, kHighest = 6;
    static bool valid(int channel) { return channel >= kLowest && channel <= kHighest; }

    void set(int slot, int channel)
    {
        if (valid(channel) && slot >= 0 && slot < int(mChannels.size()))
            mChannels[std::size_t(slot)] = int8_t(channel);
    }
    // A channel field's physical value, as the message list gives it.
    void set(int slot, std::optional<double> channel)
    {
        if (channel)
            set(slot, int(*channel));
    }
    std::optional<int> of(int slot) const
    {
        if (slot < 0 || slot >= int(mChannels.size()) || mChannels[std::size_t(slot)] == kUnknown)
            return std::nullopt;
        return mChannels[std::size_t(slot)];
    }

private:
    static constexpr int8_t kUnknown = -128;
    std::array<int8_t, 65> mChannels = filled();
    static constexpr std::array<int8_t, 65> filled()
    {
        std::array<int8_t, 65> a{};
        for (int8_t& c : a)
            c = kUnknown;
        return a;
    }
};

class ObservationAssembly {
public:
    // Where completed epochs go, and what the assembly needs to know of time.
    class Output {
    public:
        virtual ~Output() = default;
        // The epoch is the assembly's own: it may be read or copied, and is reused after.
        virtual void completed(Gnss::ObservationEpoch& epoch, const RawTime& time) = 0;
        virtual void notice(const ViewNotice& notice) = 0;
        virtual int leapSeconds() const = 0;
    };

    ObservationAssembly(Output& output, GlonassChannels& channels);
    ~ObservationAssembly();
    ObservationAssembly(const ObservationAssembly&) = delete;
    ObservationAssembly& operator=(const ObservationAssembly&) = delete;

    // Takes an MSM or legacy observation message; false for another message.
    bool add(int number, const _RTCM3_message_t& record);
    struct LegacyBlock;
    // Hands on the epoch being gathered, if any.
    void complete();

private:
    struct Pending;

    void addMsm(int number, const family::Msm& m);
    template <typename Record>
    void addLegacy(const Record& r);
    void addLegacy(int number, const family::LegacyObservables& header, const std::vector<LegacyBlock>& blocks);
    Pending& pendingFor(uint16_t station, const RawTime& time);
    // Carrier frequencies by band digit, 0 where unknown, of a system (GLONASS: of a channel).
    const std::array<double, 10>& frequencies(System system, std::optional<int> channel);
    bool sameInstant(const Pending& pending, const RawTime& time) const;

    Output& mOutput;
    GlonassChannels& mChannels;
    std::unique_ptr<Pending> mPending;
    Gnss::ObservationEpoch mEpoch;  // the one being handed on, its room kept
    // Satellites the last epochs had beyond this one's, with their room for signals.
    std::vector<Gnss::SatelliteObservations> mSpareSatellites;
    std::vector<LegacyBlock> mBlocks;  // of the legacy message being read
    // Asked once: by system, then GLONASS by channel from the lowest, without a channel, out of range.
    struct Frequencies {
        bool known = false;
        std::array<double, 10> hz{};
    };
    std::array<Frequencies, Gnss::kSystemCount + 16> mFrequencies{};
};

} // namespace Kvt::Nuvrix::View
