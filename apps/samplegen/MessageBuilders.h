#pragma once
// The builders of the sample's messages, one per family. Each fills a record for the epoch at
// hand and returns the encoded frame, or throws SampleError.

#include <QByteArray>

#include <cstdint>

namespace Kvt::Nuvrix::SampleGen {

class SkyModel;

constexpr uint16_t kReferenceStationId = 2403;

struct EpochContext {
    const SkyModel& sky;
    int index;                   // 0 for the first epoch
    double gpsTow;
    int intervalSeconds;         // how often the message being built is sent
    bool moreObservationsFollow; // another observation message of this epoch comes later
};

QByteArray buildStationMessage(uint16_t number, const EpochContext& context);
QByteArray buildObservationMessage(uint16_t number, const EpochContext& context);
QByteArray buildEphemerisMessage(uint16_t number, const EpochContext& context);
QByteArray buildCorrectionMessage(uint16_t number, const EpochContext& context);

} // namespace Kvt::Nuvrix::SampleGen
