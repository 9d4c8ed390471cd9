#pragma once
// Where frames go. Each output passes frames through its own message filter, then its
// transform stage, into its own bounded queue; a consumer that falls behind loses frames or
// its connection, with a message, and never holds the others.

#include "MessageFilter.h"
#include "RelayAddress.h"
#include "RelayClock.h"
#include "RelayFrame.h"
#include "RelayStats.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>

#include <functional>
#include <memory>

class QFile;
class QIODevice;
class QTcpSocket;

// Writes to one connection, holding at most `limit` bytes not yet taken by the peer. Chunked
// links wrap every write in an HTTP chunk; the frame itself is shared, not copied.
class NUVRIXRELAY_EXPORT BoundedLink
{
public:
    static constexpr qint64 kDefaultLimit = 256 * 1024;

    BoundedLink(QIODevice *device, bool chunked, qint64 limit = kDefaultLimit)
        : mDevice(device), mChunked(chunked), mLimit(limit) {}
    // Writes straight to the plain TCP socket's descriptor while nothing waits in its queue:
    // a thousand clients then get their bytes in this pass of the loop, not after the next poll.
    void writeDirectly(qintptr descriptor) { mDescriptor = descriptor; }
    // False when the bytes would overflow the queue; nothing is written then.
    bool send(const QByteArray &bytes);
    // Ends a chunked body.
    void finishBody();
    QIODevice *device() const { return mDevice; }

private:
    QIODevice *mDevice;
    bool mChunked;
    qint64 mLimit;
    qintptr mDescriptor = -1;
};

class NUVRIXRELAY_EXPORT RelayOutput : public QObject
{
    Q_OBJECT

public:
    RelayOutput(const RelayAddress &address, QObject *parent = nullptr);
    // Makes the transform of an output's ?convert= and ?systems=; null with *error set when
    // the values cannot be carried out.
    using TransformMaker = std::function<std::unique_ptr<FrameTransform>(const RelayAddress &, QString *error)>;

    // The output for the address; null with *error set when it cannot be one. File names
    // are made with `clock`, which must outlive the output. Conversions are refused without
    // a maker.
    static std::unique_ptr<RelayOutput> create(const RelayAddress &address, RelayClock *clock, QString *error,
                                               const TransformMaker &transforms = {});

    virtual void start() = 0;
    // Filter, transform and send.
    void offer(const Frame &frame);
    // Whether its queue is past half full: replayed files wait for it.
    virtual bool busy() const { return false; }
    // Sends what is queued, then closes; drained() follows, at once or when the bytes left.
    virtual void finish() { emit drained(); }
    // Reopens a file (after it was moved away).
    virtual void reopen() {}
    EndpointStats stats() const { return mStats; }
    void setTransform(std::unique_ptr<FrameTransform> transform) { mTransform = std::move(transform); }
    // The inputs ended: sends what the transform still holds.
    void flush();
    void setFilter(const MessageFilter &filter) { mFilter = filter; }

signals:
    void note(const QString &message);
    void drained();

protected:
    virtual void send(const Frame &frame) = 0;
    void dropped(const QString &why);  // one frame lost; says why once per run of losses
    void delivered(const Frame &frame);

    RelayAddress mAddress;
    EndpointStats mStats;
    Backoff mBackoff;

private:
    MessageFilter mFilter;
    std::unique_ptr<FrameTransform> mTransform;
    bool mLosing = false;
};

// A file whose name may hold time keywords: %Y year, %y two-digit year, %m month, %d day,
// %n day of year, %h hour, %M minute, %S second (UTC). A new file begins as the name changes,
// or at every multiple of `periodS` seconds when given (the keywords then name its start).
class NUVRIXRELAY_EXPORT FileOutput : public RelayOutput
{
    Q_OBJECT

public:
    FileOutput(const RelayAddress &address, RelayClock *clock, int periodS);
    ~FileOutput() override;
    void start() override {}
    void finish() override;
    void reopen() override;
    static QString expand(const QString &pattern, const QDateTime &utc);

protected:
    void send(const Frame &frame) override;

private:
    bool openFor(const QString &name);

    RelayClock *mClock;
    int mPeriodS;
    std::unique_ptr<QFile> mFile;
    QString mName;
    bool mWriteFailed = false;  // standard output stays closed once its reader left
};
