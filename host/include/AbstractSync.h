#pragma once

#include "nuvrixhost_global.h"

#include <QtCore/QByteArray>
#include <QtCore/QObject>

class FormatInfo;
class HostObserver;

// Cuts a received byte stream into the frames of one format. The host
// appends each chunk it receives and, while a frame is ready, takes it out
// and hands it to the format's decoder.
class NUVRIXHOST_EXPORT AbstractSync : public QObject
{
    Q_OBJECT

public:
    explicit AbstractSync(QObject *parent = nullptr);
    ~AbstractSync() override;

    // Adds bytes behind those held; returns whether a whole frame is ready.
    virtual bool appendBytes(const QByteArray &bytes) = 0;
    virtual bool hasBlock() const = 0;
    // Takes the ready frame out; empty when none is ready.
    virtual QByteArray getBlockBytes() = 0;
    // Bytes held, a ready frame included.
    virtual quint32 getNumberOfBytesLeft() const = 0;

    // What the synchronizer reports; the host counts it and forwards it to
    // the observer (its own, else the global one).
    void reportCRCError(const FormatInfo *format);
    void reportDroppedBytes(const FormatInfo *format, unsigned int count);

    quint64 getCRCErrorCount() const { return mCRCErrors; }
    quint64 getDroppedByteCount() const { return mDroppedBytes; }

    void setObserver(HostObserver *observer) { mObserver = observer; }
    HostObserver *getObserver() const { return mObserver; }

private:
    HostObserver *observer() const;

    HostObserver *mObserver = nullptr;
    quint64 mCRCErrors = 0;
    quint64 mDroppedBytes = 0;
};
