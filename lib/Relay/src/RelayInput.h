#pragma once
// Where frames come from. Every input runs on the thread's event loop, cuts what it receives
// into frames and announces each one; reconnection and its back-off belong to the input.

#include "MessageFilter.h"
#include "RelayAddress.h"
#include "RelayFrame.h"
#include "RelayStats.h"

#include <QtCore/QObject>
#include <QtCore/QTimer>

#include <functional>
#include <memory>

class NUVRIXRELAY_EXPORT RelayInput : public QObject
{
    Q_OBJECT

public:
    explicit RelayInput(const RelayAddress &address, QObject *parent = nullptr);
    // The input for the address; null with *error set when it cannot be one. A file input
    // given a source replays the source's frames instead of the file's bytes.
    static std::unique_ptr<RelayInput> create(const RelayAddress &address, QString *error,
                                              std::unique_ptr<FrameSource> source = {});

    virtual void start() = 0;
    // Whether it will deliver no more frames (a file or standard input at its end).
    bool isFinished() const { return mFinished; }
    // The caster mountpoint this input feeds, empty for none.
    QString mount() const { return mAddress.value(QStringLiteral("mount")); }
    const RelayAddress &address() const { return mAddress; }
    EndpointStats stats() const;
    // Replayed files wait while this says the outputs are full.
    void setBusyCheck(std::function<bool()> busy) { mBusy = std::move(busy); }
    // Bytes for the source (a rover's GGA sentence); dropped where the source cannot take any.
    virtual void sendUpstream(const QByteArray &bytes) { Q_UNUSED(bytes) }

signals:
    void frameReady(const Frame &frame);
    // The frames of one read were all announced: a consumer that gathers them may send now.
    void readDone();
    void finished();
    void note(const QString &message);

protected:
    // Cuts the bytes into frames and announces them.
    void receive(const QByteArray &bytes);
    void announce(const Frame &frame);
    void finish(const QString &why);
    void brokeOff(const QString &why);  // a partial frame is dropped
    bool outputsBusy() const { return mBusy && mBusy(); }

    RelayAddress mAddress;
    EndpointStats mStats;
    FrameSplitter mSplitter;
    Backoff mBackoff;

private:
    std::function<bool()> mBusy;
    MessageFilter mFilter;  // ?msgs= of the input: applies to everything it feeds
    bool mFinished = false;
};
