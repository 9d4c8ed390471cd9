#pragma once
// What the sample station sends and how often: the order of the table is the order of the
// messages within an epoch, and the system-parameters message announces the same table.

#include "MessageBuilders.h"

#include <vector>

namespace Kvt::Nuvrix::SampleGen {

using MessageBuilder = QByteArray (*)(uint16_t number, const EpochContext& context);

struct ScheduledMessage {
    uint16_t number;
    int intervalSeconds; // sent in the epochs whose index is a multiple of it
    bool synchronous;    // observations, tied to the epoch
    MessageBuilder build;
};

const std::vector<ScheduledMessage>& sampleSchedule();

} // namespace Kvt::Nuvrix::SampleGen
