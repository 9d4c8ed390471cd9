#pragma once

#include "nuvrixhost_global.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

#include <exception>

class FormatInfo;

// Something a format library tells the host besides messages. Sent as a
// value through MessageSource::newEvent, or thrown by field accessors on
// misuse, hence a std::exception.
class NUVRIXHOST_EXPORT NuvrixEvent : public std::exception
{
public:
    enum Type {
        UnknownMessage = 3,     // a message number the format does not know
        DecodeError = 4,        // a known message that could not be decoded
        InconsistentState = 5,  // the library's own state went wrong
        InvalidFieldAccess = 6, // a field was read that is absent or out of range
    };

    NuvrixEvent(int type, const QString &text, const FormatInfo *format);

    int getType() const { return mType; }
    const QString &getText() const { return mText; }
    const FormatInfo *getFormatInfo() const { return mFormat; }

    const char *what() const noexcept override { return mUtf8.constData(); }

private:
    int mType;
    QString mText;
    const FormatInfo *mFormat;
    QByteArray mUtf8;
};
