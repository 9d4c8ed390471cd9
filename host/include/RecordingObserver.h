#pragma once

#include "HostObserver.h"
#include "NuvrixEvent.h"

#include <QtCore/QList>
#include <QtCore/QString>

class MessageInfo;

// An observer that remembers everything it receives, in order; for host
// programs that poll, and for tests. With keepMessages it holds a reference
// to every message it is sent until clear() or its destruction.
class NUVRIXHOST_EXPORT RecordingObserver : public HostObserver
{
public:
    enum class Stage { Early, Normal, Late };

    struct Delivery
    {
        Stage stage;
        const MessageInfo *info;
        // Valid after the notification only when messages are kept.
        const Message *message;
    };

    explicit RecordingObserver(bool keepMessages = false);
    ~RecordingObserver() override;

    RecordingObserver(const RecordingObserver &) = delete;
    RecordingObserver &operator=(const RecordingObserver &) = delete;

    void crcError(const AbstractSync *source, const FormatInfo *format) override;
    void droppedBytes(const AbstractSync *source, const FormatInfo *format,
                      unsigned int count) override;
    void messageEarly(const MessageSource *source, const Message *message) override;
    void message(const MessageSource *source, const Message *message) override;
    void messageLate(const MessageSource *source, const Message *message) override;
    void unknownMessage(const MessageSource *source, const FormatInfo *format,
                        const QString &text) override;
    void event(const MessageSource *source, const NuvrixEvent &event) override;

    int crcErrors() const { return mCrcErrors; }
    // One entry per report, in order.
    const QList<unsigned int> &droppedReports() const { return mDropped; }
    quint64 totalDropped() const;
    const QList<Delivery> &deliveries() const { return mDeliveries; }
    // Messages of the newMessage stage, in order (see Delivery::message).
    QList<const Message *> messages() const;
    const QList<QString> &unknownMessages() const { return mUnknown; }
    const QList<NuvrixEvent> &events() const { return mEvents; }
    // Every format passed with a report, in order.
    const QList<const FormatInfo *> &formats() const { return mFormats; }

    // Forgets everything and releases kept messages.
    void clear();

private:
    void deliver(Stage stage, const Message *message);

    bool mKeepMessages;
    int mCrcErrors = 0;
    QList<unsigned int> mDropped;
    QList<Delivery> mDeliveries;
    QList<QString> mUnknown;
    QList<NuvrixEvent> mEvents;
    QList<const FormatInfo *> mFormats;
};
