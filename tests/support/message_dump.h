#pragma once
// A message as one text, read through the descriptions the way a host reads it: every
// field's name and raw values, nested blocks written out in place. Two messages with the
// same text hold the same values.

#include "FieldInfo.h"
#include "Message.h"
#include "MessageInfo.h"

#include <QtCore/QString>

namespace messagedump {

inline QString dump(const Message *message)
{
    QString text = message->getMessageInfo()->getName() + QLatin1Char('{');
    for (const FieldInfo *field : message->getMessageInfo()->getFieldInfos()) {
        text += field->getName() + QLatin1Char('=');
        if (!field->isPresent(message)) {
            text += QLatin1String("absent;");
            continue;
        }
        if (field->getType().kind() == FieldType::SubMessage) {
            const unsigned count = field->getCount(message);
            for (unsigned i = 0; i < count; ++i)
                text += dump(field->getValue(message, i).toSubMessage());
        } else {
            text += field->getValueString(message);
        }
        text += QLatin1Char(';');
    }
    return text + QLatin1Char('}');
}

} // namespace messagedump
