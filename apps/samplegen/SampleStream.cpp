#include "SampleStream.h"

#include "SampleTime.h"
#include "Schedule.h"
#include "SkyModel.h"

namespace Kvt::Nuvrix::SampleGen {

namespace {

bool sentInEpoch(const ScheduledMessage& m, int epoch)
{
    return epoch % m.intervalSeconds == 0;
}

// Receivers flag every observation message of an epoch but the last, so that a decoder knows
// when the epoch is complete.
bool observationsFollow(const std::vector<ScheduledMessage>& schedule, size_t from, int epoch)
{
    for (size_t i = from + 1; i < schedule.size(); ++i) {
        if (schedule[i].synchronous && sentInEpoch(schedule[i], epoch))
            return true;
    }
    return false;
}

QByteArray buildEpoch(const SkyModel& sky, int epoch)
{
    const std::vector<ScheduledMessage>& schedule = sampleSchedule();
    QByteArray frames;
    for (size_t i = 0; i < schedule.size(); ++i) {
        const ScheduledMessage& m = schedule[i];
        if (!sentInEpoch(m, epoch))
            continue;
        const EpochContext context{sky, epoch, kFirstEpochTow + epoch, m.intervalSeconds,
                                   observationsFollow(schedule, i, epoch)};
        frames += m.build(m.number, context);
    }
    return frames;
}

} // namespace

QByteArray buildSampleStream()
{
    const SkyModel sky;
    QByteArray stream;
    for (int epoch = 0; epoch < kEpochCount; ++epoch)
        stream += buildEpoch(sky, epoch);
    return stream;
}

} // namespace Kvt::Nuvrix::SampleGen
