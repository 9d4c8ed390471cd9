#include "ProduceScales.h"

#include "RTCM3_reflect.h"
#include "kvtcg.h"

#include <cstring>

namespace Kvt::Nuvrix::Produce {

double listScale(int messageNumber, const char* field)
{
    for (int32_t e = 1;; ++e) {
        const reflect::RecordInfo* info = reflect::recordInfo(e);
        if (!info)
            return 0.0;
        if (info->messageNumber != messageNumber)
            continue;
        for (uint16_t i = 0; i < info->fieldCount; ++i)
            if (info->fields[i].name == field)
                return info->fields[i].scaleNumerator / info->fields[i].scaleDivisor;
        return 0.0;
    }
}

double requiredListScale(int messageNumber, const char* field)
{
    const double s = listScale(messageNumber, field);
    if (s == 0.0)
        kvtcg_assertion_failed(__FILE__, __LINE__, "a scaled field of the message list");
    return s;
}

} // namespace Kvt::Nuvrix::Produce
