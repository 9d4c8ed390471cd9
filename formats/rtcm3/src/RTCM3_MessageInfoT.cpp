#include "RTCM3_MessageInfoT.h"

#include "FieldValue.h"
#include "MemLeakTracer.h"
#include "RTCM3_FormatInfo.h"

namespace {

// Every message begins with the frame header; a record that shares its message number
// follows it with the 12-bit value that tells it apart.
constexpr int kMessageNumberField = 3;
constexpr int kSubtypeField = 4;
constexpr int kDiscriminantBits = 12;

} // namespace

RTCM3MessageInfo::RTCM3MessageInfo(const RTCM3Description::Spec &spec)
    : MessageInfo(QString::fromUtf8(spec.displayName)), mSpec(spec)
{
    MemLeakTracer::getInstance()->doAllocateObject(spec.className);
    if (spec.messageNumber != 0)
        setShortDescriptiveText(QString::fromUtf8(spec.shortText));
    else
        setIsMain(false);
    setFormatInfo(RTCM3_FormatInfo::getInstance());
    setupFields();
    if (spec.messageNumber == 0)
        return;
    addDiscriminantValue(getFieldInfo(kMessageNumberField),
                         FieldValue::u(spec.messageNumber, kDiscriminantBits));
    if (spec.subtype >= 0)
        addDiscriminantValue(getFieldInfo(kSubtypeField),
                             FieldValue::u(quint64(spec.subtype), kDiscriminantBits));
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
