#include "HttpChunkDecoder.h"

#include <algorithm>
#include <cctype>

HttpChunkDecoder::Result HttpChunkDecoder::fail(const QString &error)
{
    mStep = Step::Failed;
    mError = error;
    return Result::Error;
}

bool HttpChunkDecoder::takeLine(const char *&data, const char *end)
{
    const char *const lineFeed = std::find(data, end, '\n');
    mLine.append(data, lineFeed - data);
    data = lineFeed == end ? end : lineFeed + 1;
    return lineFeed != end;
}

bool HttpChunkDecoder::sizeLine()
{
    // A chunk extension follows a semicolon; the size is hexadecimal, at most 15 digits so
    // that it fits.
    const qsizetype semicolon = mLine.indexOf(';');
    const QByteArray size = (semicolon < 0 ? mLine : mLine.left(semicolon)).trimmed();
    bool ok = size.size() <= 15 && !size.isEmpty();
    for (const char c : size)
        ok = ok && std::isxdigit(uchar(c));
    if (ok)
        mLeft = size.toLongLong(nullptr, 16);
    return ok;
}

HttpChunkDecoder::Result HttpChunkDecoder::feed(const char *data, qsizetype size, QByteArray *out)
{
    const char *const end = data + size;
    while (data < end && mStep != Step::Done && mStep != Step::Failed) {
        switch (mStep) {
        case Step::Size:
        case Step::Trailer: {
            const bool complete = takeLine(data, end);
            if (mLine.size() > kMaxLine)
                return fail(QStringLiteral("chunk size or trailer line longer than %1 bytes").arg(kMaxLine));
            if (!complete)
                break;
            if (mStep == Step::Size) {
                if (!sizeLine())
                    return fail(QStringLiteral("invalid chunk size line"));
                mStep = mLeft == 0 ? Step::Trailer : Step::Data;
            } else if (mLine.trimmed().isEmpty()) {
                mStep = Step::Done;
            } else if (++mTrailerLines > kMaxTrailerLines) {
                return fail(QStringLiteral("more than %1 trailer lines").arg(kMaxTrailerLines));
            }
            mLine.clear();
            break;
        }
        case Step::Data: {
            const qint64 take = std::min<qint64>(mLeft, end - data);
            out->append(data, take);
            data += take;
            mLeft -= take;
            if (mLeft == 0)
                mStep = Step::DataEnd;
            break;
        }
        case Step::DataEnd:
            // The line end after the chunk's data: CR LF, or a bare LF from lenient peers.
            if (*data == '\r' && mLine.isEmpty()) {
                mLine.append('\r');
            } else if (*data == '\n') {
                mLine.clear();
                mStep = Step::Size;
            } else {
                return fail(QStringLiteral("chunk data longer than its size"));
            }
            ++data;
            break;
        case Step::Done:
        case Step::Failed:
            break;
        }
    }
    if (mStep == Step::Failed)
        return Result::Error;
    return mStep == Step::Done ? Result::End : Result::More;
}
