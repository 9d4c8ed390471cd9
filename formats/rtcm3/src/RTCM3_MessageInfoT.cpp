#include "RTCM3_MessageInfoT.h"

#include "FieldValue.h"
#include "MemLeakTracer.h"
#include "RTCM3_FormatInfo.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

namespace {

// Every message begins with the frame header; a record that shares its message number
// follows it with the 12-bit value that tells it apart.
constexpr int kMessageNumberField = 3;
constexpr int kSubtypeField = 4;
constexpr int kDiscriminantBits = 12;

const Kvt::Nuvrix::layout::RecordLayout &recordOf(const RTCM3Description::Spec &spec)
{
    const Kvt::Nuvrix::layout::RecordLayout *record = Kvt::Nuvrix::RTCM3_layout(spec.recordEnumerator);
    Q_ASSERT(record);
    return *record;
}

} // namespace

RTCM3MessageInfo::RTCM3MessageInfo(const RTCM3Description::Spec &spec)
    : MessageInfo(QString::fromUtf8(recordOf(spec).display)), mSpec(spec)
{
    const Kvt::Nuvrix::layout::RecordLayout &record = recordOf(spec);
    MemLeakTracer::getInstance()->doAllocateObject(spec.className);
    if (record.messageNumber != 0)
        setShortDescriptiveText(QString::fromUtf8(record.text));
    else
        setIsMain(false);
    setFormatInfo(RTCM3_FormatInfo::getInstance());
    setupFields();
    if (record.messageNumber == 0)
        return;
    addDiscriminantValue(getFieldInfo(kMessageNumberField),
                         FieldValue::u(record.messageNumber, kDiscriminantBits));
    if (record.subtype >= 0)
        addDiscriminantValue(getFieldInfo(kSubtypeField),
                             FieldValue::u(quint64(record.subtype), kDiscriminantBits));
}

RTCM3MessageInfo::~RTCM3MessageInfo()
{
    MemLeakTracer::getInstance()->doDeallocateObject(mSpec.className);
}

void RTCM3MessageInfo::setupFields()
{
    for (int k = 0; k < mSpec.fieldCount; ++k)
        addFieldInfo(mSpec.fields[k](), k, false);
}
