#include "NuvrixEvent.h"

NuvrixEvent::NuvrixEvent(int type, const QString &text, const FormatInfo *format)
    : mType(type), mText(text), mFormat(format), mUtf8(text.toUtf8())
{
}
