#include "Schedule.h"

namespace Kvt::Nuvrix::SampleGen {

const std::vector<ScheduledMessage>& sampleSchedule()
{
    static const std::vector<ScheduledMessage> schedule = {
        {1006, 10, false, buildStationMessage},
        {1033, 10, false, buildStationMessage},
        {1013, 10, false, buildStationMessage},
        {1230, 10, false, buildStationMessage},
        {1029, 10, false, buildStationMessage},
        {1074, 1, true, buildObservationMessage},
        {1084, 1, true, buildObservationMessage},
        {1094, 1, true, buildObservationMessage},
        {1124, 1, true, buildObservationMessage},
        {1077, 1, true, buildObservationMessage},
        {1087, 1, true, buildObservationMessage},
        {1097, 1, true, buildObservationMessage},
        {1127, 1, true, buildObservationMessage},
        {1019, 1, false, buildEphemerisMessage},
        {1020, 1, false, buildEphemerisMessage},
        {1042, 1, false, buildEphemerisMessage},
        {1045, 1, false, buildEphemerisMessage},
        {1046, 1, false, buildEphemerisMessage},
        {1057, 5, false, buildCorrectionMessage},
        {1058, 5, false, buildCorrectionMessage},
        {1059, 5, false, buildCorrectionMessage},
        {1060, 5, false, buildCorrectionMessage},
        {1061, 10, false, buildCorrectionMessage},
        {1062, 1, false, buildCorrectionMessage},
        {1063, 5, false, buildCorrectionMessage},
        {1064, 5, false, buildCorrectionMessage},
        {1065, 5, false, buildCorrectionMessage},
        {1066, 5, false, buildCorrectionMessage},
        {1067, 10, false, buildCorrectionMessage},
        {1068, 1, false, buildCorrectionMessage},
    };
    return schedule;
}

} // namespace Kvt::Nuvrix::SampleGen
