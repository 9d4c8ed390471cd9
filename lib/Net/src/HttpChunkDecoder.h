#pragma once
// Undoes HTTP/1.1 chunked transfer encoding on bytes as they arrive: chunk boundaries fall
// anywhere, in the middle of a size line or of a frame inside a chunk. Extensions after
// the size and trailer lines are read and ignored; every line is bounded so that a peer
// cannot make it hold an unbounded buffer.

#include "nuvrixntrip_global.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

class NUVRIXNTRIP_EXPORT HttpChunkDecoder
{
public:
    static constexpr qsizetype kMaxLine = 1024;
    static constexpr int kMaxTrailerLines = 64;

    enum class Result { More, End, Error };

    // Appends the data inside the chunks to *out. End once the last chunk and its trailer
    // arrived (later bytes are ignored); Error, for good, when the encoding is broken.
    Result feed(const char *data, qsizetype size, QByteArray *out);
    const QString &error() const { return mError; }

private:
    enum class Step { Size, Data, DataEnd, Trailer, Done, Failed };

    Result fail(const QString &error);
    // Takes bytes into mLine up to a line feed; true when the line is complete.
    bool takeLine(const char *&data, const char *end);
    bool sizeLine();

    Step mStep = Step::Size;
    QByteArray mLine;
    qint64 mLeft = 0;
    int mTrailerLines = 0;
    QString mError;
};
