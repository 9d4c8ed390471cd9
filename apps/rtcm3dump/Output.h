#pragma once
// Where rtcm3dump writes: standard output or a file, each through a buffered descriptor that
// remembers the first write error, so that a full disk or a closed pipe ends the run with a
// message instead of losing output silently.

#include "Frame.h"

#include <QtCore/QIODevice>
#include <QtCore/QString>

class OutputDevice : public QIODevice
{
public:
    // Writes to an open descriptor it does not own (standard output); `name` is for messages.
    OutputDevice(int fd, const QString &name);
    ~OutputDevice() override;

    // Creates or truncates the file; false with error() set when it cannot.
    bool create(const QString &path);
    // Writes what is buffered to the descriptor; false once any write failed.
    bool flush();
    bool failed() const { return !mError.isEmpty(); }
    const QString &error() const { return mError; }
    // "writing NAME: reason" once a write failed, else empty.
    QString failure() const;
    // Whether the reader of a pipe or socket went away: a filter's output is then simply done.
    bool readerGone() const { return mReaderGone; }

    bool isSequential() const override { return true; }
    void close() override;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 size) override;

private:
    bool writeOut(const char *data, qint64 size);
    // Waits until a pipe or socket takes bytes; gives up once a stop was requested and the
    // reader still takes nothing, so that a stalled reader cannot hold the run.
    bool awaitRoom();

    QString mName;
    int mFd = -1;
    bool mOwned = false;
    bool mMayStall = false;
    bool mReaderGone = false;
    QByteArray mBuffer;
    QString mError;
};

// --save: every frame that passes the selection, byte for byte, as it arrived.
class FrameRecorder : public FrameSink
{
public:
    explicit FrameRecorder(OutputDevice &device) : mDevice(device) {}
    void frame(const Frame &frame) override { mDevice.write(frame.bytes); }
    void flush() override { mDevice.flush(); }
    QString writeError() const override { return mDevice.failure(); }

private:
    OutputDevice &mDevice;
};
