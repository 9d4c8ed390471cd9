#include "NtripClient.h"

#include "HttpChunkDecoder.h"
#include "StreamProtocol.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QUrl>

#include <algorithm>
#include <optional>

namespace {

// Longest wait of a source-table fetch before it asks whether to stop.
constexpr int kStopCheckMs = 200;

// What a peer sent, made safe to print in a message.
QString printable(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes.left(80))
        text += c >= 0x20 && c < 0x7F ? QChar::fromLatin1(c) : QChar(u'?');
    return text;
}

class NtripProtocol : public StreamProtocol
{
public:
    NtripProtocol(const NtripEndpoint &endpoint, const NtripSettings &settings)
        : mEndpoint(endpoint), mSettings(settings)
    {
    }

    int version() const { return mVersion; }

    void restart() override
    {
        mAnswer.clear();
        mStatusRead = mHeaderRead = mSourceTable = mChunked = mStreamData = false;
        mContentLeft = -1;
        mTableBytes = 0;
        mAnswerBytes = 0;
        mTableTail.clear();
        mChunks = HttpChunkDecoder();
        mNextGgaMs = -1;
    }

    QByteArray request(qint64 nowMs) override;
    bool needsAnswer() const override { return true; }
    Outcome receive(const QByteArray &bytes, QByteArray *payload) override;
    Outcome closed() const override
    {
        if (!mHeaderRead)
            return failed(NetError::ProtocolError, QStringLiteral("the caster closed the connection without answering"));
        return {Verdict::Ended, NetError::None, QStringLiteral("the caster closed the connection")};
    }

    QByteArray due(qint64 nowMs) override
    {
        if (mNextGgaMs < 0 || nowMs < mNextGgaMs)
            return {};
        mNextGgaMs = nowMs + mSettings.ggaIntervalMs;
        return ggaSentence(*mSettings.gga, QDateTime::currentDateTimeUtc());
    }
    qint64 nextDueMs() const override { return mNextGgaMs; }

private:
    static Outcome failed(NetError error, const QString &message, bool permanent = false)
    {
        return {Verdict::Failed, error, message, permanent};
    }
    bool tableWanted() const { return mEndpoint.mountpoint.isEmpty(); }
    std::optional<Outcome> readStatus();
    std::optional<Outcome> readHeader();
    Outcome body(const char *data, qsizetype size, QByteArray *payload);
    Outcome unauthorized() const;
    Outcome notATable() const
    {
        return failed(NetError::ProtocolError,
                      QStringLiteral("the caster answered the source-table request with a data stream"), true);
    }
    Outcome noMountpoint() const
    {
        return failed(NetError::UnknownMountpoint,
                      QStringLiteral("the caster has no mountpoint %1 (it answered with its source table)").arg(mEndpoint.mountpoint),
                      true);
    }

    const NtripEndpoint mEndpoint;
    const NtripSettings mSettings;
    int mVersion = 0;

    QByteArray mAnswer;  // the answer's bytes not read yet
    bool mStatusRead = false;
    bool mHeaderRead = false;
    bool mSourceTable = false;
    bool mChunked = false;
    bool mStreamData = false;  // the header calls the body stream data
    qint64 mContentLeft = -1;  // -1: until the caster closes
    qsizetype mAnswerBytes = 0;
    qsizetype mTableBytes = 0;
    QByteArray mTableTail;  // the end of the table so far, to see ENDSOURCETABLE across reads
    HttpChunkDecoder mChunks;
    qint64 mNextGgaMs = -1;
};

QByteArray NtripProtocol::request(qint64 nowMs)
{
    const bool version1 = mSettings.version == 1;
    QByteArray host = mEndpoint.host.contains(QLatin1Char(':')) ? '[' + mEndpoint.host.toLatin1() + ']'
                                                                : QUrl::toAce(mEndpoint.host);
    if (host.isEmpty())
        host = mEndpoint.host.toUtf8();
    QByteArray request = "GET /" + QUrl::toPercentEncoding(mEndpoint.mountpoint) + (version1 ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
    request += "Host: " + host + ':' + QByteArray::number(mEndpoint.port) + "\r\n";
    if (!version1)
        request += "Ntrip-Version: Ntrip/2.0\r\n";
    request += "User-Agent: " + NtripClient::userAgent() + "\r\n";
    if (!mEndpoint.user.isEmpty())
        request += "Authorization: Basic " + (mEndpoint.user + QLatin1Char(':') + mEndpoint.password).toUtf8().toBase64() + "\r\n";
    request += "Connection: close\r\n\r\n";
    if (mSettings.gga && !tableWanted()) {
        request += ggaSentence(*mSettings.gga, QDateTime::currentDateTimeUtc());
        mNextGgaMs = nowMs + mSettings.ggaIntervalMs;
    }
    return request;
}

StreamProtocol::Outcome NtripProtocol::unauthorized() const
{
    const QString text = mEndpoint.user.isEmpty()
        ? QStringLiteral("the caster needs a user name and password for %1 (401 Unauthorized)")
        : QStringLiteral("the caster refused the user name or password for %1 (401 Unauthorized)");
    return failed(NetError::AuthenticationFailed, text.arg(mEndpoint.display()), true);
}

// The status line decides at once: some casters close right after a refusal's status line.
std::optional<StreamProtocol::Outcome> NtripProtocol::readStatus()
{
    const qsizetype lineFeed = mAnswer.indexOf('\n');
    if (lineFeed < 0)
        return std::nullopt;
    const QByteArray status = mAnswer.left(lineFeed).trimmed();
    mAnswer.remove(0, lineFeed + 1);
    mStatusRead = true;
    const QList<QByteArray> words = status.split(' ');
    if (status == "ICY 200 OK") {
        // Version 1 sends no header: the stream follows the status line.
        mVersion = 1;
        if (tableWanted())
            return notATable();
        mHeaderRead = true;
        return std::nullopt;
    }
    if (status.startsWith("SOURCETABLE 200")) {
        mVersion = 1;
        mSourceTable = true;
        return tableWanted() ? std::nullopt : std::optional<Outcome>(noMountpoint());
    }
    if (words.size() < 2 || !words[0].startsWith("HTTP/1.")) {
        return failed(NetError::ProtocolError, QStringLiteral("%1 is not an NTRIP caster (it answered \"%2\")")
                                                   .arg(mEndpoint.display(), printable(status)));
    }
    // An HTTP/1.0 answer comes from a version 1 caster unless its header says otherwise.
    mVersion = words[0] == "HTTP/1.0" ? 1 : 2;
    const int code = words[1].toInt();
    if (code == 401)
        return unauthorized();
    if (code == 404)
        return failed(NetError::UnknownMountpoint,
                      QStringLiteral("the caster has no mountpoint %1 (404 Not Found)").arg(mEndpoint.mountpoint), true);
    if (code != 200)
        return failed(NetError::Rejected, QStringLiteral("the caster refused %1: \"%2\"")
                                              .arg(mEndpoint.display(), printable(status)));
    return std::nullopt;
}

std::optional<StreamProtocol::Outcome> NtripProtocol::readHeader()
{
    for (qsizetype lineFeed; (lineFeed = mAnswer.indexOf('\n')) >= 0;) {
        const QByteArray line = mAnswer.left(lineFeed).trimmed();
        mAnswer.remove(0, lineFeed + 1);
        if (line.isEmpty()) {
            mHeaderRead = true;
            break;
        }
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return failed(NetError::ProtocolError,
                          QStringLiteral("malformed header line from the caster: \"%1\"").arg(printable(line)));
        const QByteArray name = line.left(colon).trimmed().toLower();
        const QByteArray value = line.mid(colon + 1).trimmed().toLower();
        if (name == "transfer-encoding")
            mChunked = value.contains("chunked");
        else if (name == "content-type") {
            mSourceTable = mSourceTable || value.startsWith("gnss/sourcetable");
            mStreamData = value.startsWith("gnss/data");
        } else if (name == "content-length") {
            // Read as 0, a bad length would end the stream before its first byte.
            bool ok = false;
            mContentLeft = value.toLongLong(&ok);
            if (!ok || mContentLeft < 0)
                return failed(NetError::ProtocolError,
                              QStringLiteral("the caster's Content-Length is not a number: \"%1\"").arg(printable(value)));
        }
        else if (name == "ntrip-version")
            mVersion = value.startsWith("ntrip/2") ? 2 : 1;
    }
    if (!mHeaderRead)
        return std::nullopt;
    if (mChunked)
        mContentLeft = -1;
    if (mSourceTable && !tableWanted())
        return noMountpoint();
    if (mStreamData && !mSourceTable && tableWanted())
        return notATable();
    return std::nullopt;
}

StreamProtocol::Outcome NtripProtocol::receive(const QByteArray &bytes, QByteArray *payload)
{
    if (mHeaderRead)
        return body(bytes.constData(), bytes.size(), payload);
    mAnswer += bytes;
    mAnswerBytes += bytes.size();
    if (!mStatusRead)
        if (const std::optional<Outcome> outcome = readStatus())
            return *outcome;
    if (mStatusRead && !mHeaderRead)
        if (const std::optional<Outcome> outcome = readHeader())
            return *outcome;
    if (!mHeaderRead) {
        if (mAnswerBytes > NtripClient::kMaxAnswerBytes)
            return failed(NetError::ProtocolError,
                          QStringLiteral("the caster's answer header is longer than %1 bytes").arg(NtripClient::kMaxAnswerBytes));
        return Outcome{};
    }
    const QByteArray rest = std::exchange(mAnswer, {});
    return body(rest.constData(), rest.size(), payload);
}

StreamProtocol::Outcome NtripProtocol::body(const char *data, qsizetype size, QByteArray *payload)
{
    const qsizetype before = payload->size();
    Outcome outcome{Verdict::Streaming, NetError::None, {}};
    if (mChunked) {
        const HttpChunkDecoder::Result result = mChunks.feed(data, size, payload);
        if (result == HttpChunkDecoder::Result::Error)
            outcome = failed(NetError::ProtocolError, QStringLiteral("broken chunked encoding from the caster: %1").arg(mChunks.error()));
        else if (result == HttpChunkDecoder::Result::End)
            outcome = {Verdict::Ended, NetError::None, QStringLiteral("the caster ended the stream")};
    } else {
        const qsizetype take = mContentLeft < 0 ? size : qsizetype(std::min<qint64>(mContentLeft, size));
        payload->append(data, take);
        if (mContentLeft >= 0 && (mContentLeft -= take) == 0)
            outcome = {Verdict::Ended, NetError::None, QStringLiteral("the caster ended the stream")};
    }
    if (!tableWanted())
        return outcome;
    // A source table ends with ENDSOURCETABLE, or when the caster closes.
    mTableBytes += payload->size() - before;
    if (mTableBytes > NtripClient::kMaxSourceTableBytes)
        return failed(NetError::ProtocolError,
                      QStringLiteral("the source table is larger than %1 bytes").arg(NtripClient::kMaxSourceTableBytes));
    mTableTail = (mTableTail + payload->mid(before)).right(32);
    if (outcome.verdict == Verdict::Streaming && mTableTail.contains("ENDSOURCETABLE"))
        outcome = {Verdict::Ended, NetError::None, QStringLiteral("the caster sent its source table")};
    return outcome;
}

} // namespace

NtripClient::NtripClient(const NtripEndpoint &endpoint, const NtripSettings &settings)
    : NetStream(endpoint.host, endpoint.port, endpoint.tls, settings, std::make_unique<NtripProtocol>(endpoint, settings))
{
}

int NtripClient::version() const
{
    return static_cast<const NtripProtocol *>(protocol())->version();
}

QByteArray NtripClient::userAgent()
{
    return QByteArrayLiteral("NTRIP nuvrixrtcm3/" NUVRIX_VERSION);
}

SourceTable fetchSourceTable(const NtripEndpoint &caster, const NtripSettings &settings, QString *error,
                             const std::function<bool()> &stopRequested)
{
    NtripEndpoint tableEndpoint = caster;
    tableEndpoint.mountpoint.clear();
    NtripSettings once = settings;
    once.reconnect = false;
    NtripClient client(tableEndpoint, once);
    QByteArray text;
    QElapsedTimer clock;
    clock.start();
    error->clear();
    // The timeout bounds the whole table too: a caster that trickles a byte now and then
    // would otherwise hold the fetch for ever.
    while (!client.atEnd()) {
        const qint64 leftMs = settings.timeoutMs - clock.elapsed();
        if (stopRequested && stopRequested()) {
            *error = QStringLiteral("interrupted before the source table was complete");
            return {};
        }
        if (leftMs <= 0) {
            *error = QStringLiteral("the source table was not complete within %1 s").arg(settings.timeoutMs / 1000.0);
            return {};
        }
        text += client.read(int(std::min<qint64>(leftMs, kStopCheckMs)));
    }
    const SourceTable table = SourceTable::parse(text);
    if (client.state() == NetStream::State::Failed)
        *error = client.errorString();
    else if (table.records.isEmpty() && !text.contains("ENDSOURCETABLE"))
        *error = QStringLiteral("the caster's answer holds no source table");
    return table;
}
