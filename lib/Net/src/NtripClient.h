#pragma once
// An NTRIP client: the stream of one caster mountpoint, or the caster's source table.
//
// NTRIP 2.0 is asked for unless the version is forced to 1; the caster's answer decides
// ("ICY 200 OK" is version 1, an HTTP answer version 2, chunked or not). TLS is used for
// ntrips:// addresses only: casters on the usual ports speak plain HTTP.

#include "NetEndpoint.h"
#include "NetStream.h"
#include "NmeaGga.h"
#include "SourceTable.h"
#include "nuvrixntrip_global.h"

#include <functional>
#include <optional>

struct NtripSettings : NetSettings
{
    int version = 0;                  // 0: ask in 2.0, take what the caster answers; 1, 2: ask in it
    std::optional<GgaPosition> gga;   // sent on connect and every ggaIntervalMs
    int ggaIntervalMs = 10000;
};

class NUVRIXNTRIP_EXPORT NtripClient : public NetStream
{
public:
    // Longest answer header, and source table, that the client holds.
    static constexpr qsizetype kMaxAnswerBytes = 16 * 1024;
    static constexpr qsizetype kMaxSourceTableBytes = 8 * 1024 * 1024;

    explicit NtripClient(const NtripEndpoint &endpoint, const NtripSettings &settings = {});
    // The version the caster answered with; 0 until it answered.
    int version() const;
    // "NTRIP nuvrixrtcm3/<version>"
    static QByteArray userAgent();
};

// The caster's source table (the endpoint's mountpoint is ignored), whole within the
// settings' timeout. `stopRequested`, asked several times a second, abandons the fetch.
// *error is empty on success; an answer that holds no source table is an error.
NUVRIXNTRIP_EXPORT SourceTable fetchSourceTable(const NtripEndpoint &caster, const NtripSettings &settings,
                                                QString *error, const std::function<bool()> &stopRequested = {});
