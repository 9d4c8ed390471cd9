#pragma once

#include "MessageInfo.h"
#include "nuvrixrtcm3_global.h"

class FieldInfo;

namespace RTCM3Description {

using FieldGetter = const FieldInfo *(*)();

// What the generator states about the description of one record; its name, short text,
// message number and sub-type are those of the record's table in the codec.
struct Spec
{
    const char *className;      // for the allocation tracer
    qint32 recordEnumerator;
    const FieldGetter *fields;  // in layout order
    quint16 fieldCount;
};

} // namespace RTCM3Description

// The description of one record type: name, short text, main or sub-message, the values that
// identify it on the wire and its fields in layout order.
class NUVRIXRTCM3_EXPORT RTCM3MessageInfo : public MessageInfo
{
public:
    ~RTCM3MessageInfo() override;

    const RTCM3Description::Spec &spec() const { return mSpec; }

protected:
    explicit RTCM3MessageInfo(const RTCM3Description::Spec &spec);

    void setupFields();

private:
    const RTCM3Description::Spec &mSpec;
};

// The message descriptions in the order in which the format description registers them.
struct RTCM3Registration
{
    const MessageInfo *(*description)();
    bool isSubMessage;
};

struct RTCM3RegistrationTable
{
    const RTCM3Registration *entries;
    int count;
};

RTCM3RegistrationTable RTCM3_registrationTable();
