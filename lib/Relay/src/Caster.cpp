#include "Caster.h"

#include "Fanout.h"
#include "Geodesy.h"
#include "HttpChunkDecoder.h"
#include "NtripClient.h"
#include "RTCM3_codec.h"
#include "RTCM3_families.h"
#include "RelayInput.h"
#include "RelayOutput.h"

#include <QtCore/QTimer>
#include <QtNetwork/QTcpServer>
#include <QtNetwork/QTcpSocket>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <thread>

namespace {

constexpr char kNetwork[] = "rtcm3relay";

QByteArray serverName()
{
    return "NTRIP rtcm3relay/" NUVRIX_VERSION;
}

// Printable, bounded text of a peer's bytes for a message.
QString printable(const QByteArray &bytes)
{
    QString text;
    for (const char c : bytes.left(160))
        text += (c >= 32 && c < 127) ? QChar::fromLatin1(c) : QChar(u'?');
    return text;
}

QByteArray headerValue(const QList<QByteArray> &lines, const QByteArray &name)
{
    for (const QByteArray &line : lines) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0)
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

// user and password of "Basic BASE64"; nullopt when the value is not one.
std::optional<std::pair<QString, QString>> basicCredentials(const QByteArray &authorization)
{
    if (!authorization.startsWith("Basic "))
        return std::nullopt;
    const auto result = QByteArray::fromBase64Encoding(authorization.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    const QByteArray &decoded = result.decoded;
    const qsizetype colon = decoded.indexOf(':');
    if (colon < 0)
        return std::nullopt;
    return std::make_pair(QString::fromUtf8(decoded.left(colon)), QString::fromUtf8(decoded.mid(colon + 1)));
}

QString systemName(int type)
{
    static const char *const kMsm[] = {"GPS", "GLO", "GAL", "SBAS", "QZS", "BDS", "IRS"};
    const int msm = msmSystem(type);
    if (msm >= 0 && msm < 7)
        return QLatin1String(kMsm[msm]);
    if ((type >= 1001 && type <= 1004) || type == 1019)
        return QStringLiteral("GPS");
    if ((type >= 1009 && type <= 1012) || type == 1020)
        return QStringLiteral("GLO");
    if (type == 1045 || type == 1046)
        return QStringLiteral("GAL");
    if (type == 1042)
        return QStringLiteral("BDS");
    if (type == 1044)
        return QStringLiteral("QZS");
    return {};
}

std::optional<std::pair<double, double>> stationPosition(const QByteArray &frame)
{
    using namespace Kvt::Nuvrix;
    auto record = std::make_unique<_RTCM3_message_t>();
    RTCM3_context_s context;
    RTCM3_init_context(&context);
    const int32_t code = RTCM3_decode(&context, reinterpret_cast<const uint8_t *>(frame.constData()),
                                      uint16_t(frame.size()), record.get());
    std::optional<std::pair<double, double>> position;
    Kvt::Gnss::Ecef ecef;
    if (code >= 0)
        family::visitStationPosition(messageNumber(frame), *record, [&ecef](const auto &r) {
            namespace u = units::StationPosition;
            ecef = {*units::value(u::ECEF_X, r.ECEF_X), *units::value(u::ECEF_Y, r.ECEF_Y), *units::value(u::ECEF_Z, r.ECEF_Z)};
        });
    if (std::hypot(ecef.x, ecef.y, ecef.z) > 1e6) {
        const Kvt::Gnss::Geodetic g = Kvt::Gnss::ecefToGeodetic(ecef);
        position = std::make_pair(g.latitudeDeg, g.longitudeDeg);
    }
    RTCM3_free_message_children(record.get());
    return position;
}

} // namespace

// ---- users -----------------------------------------------------------------------------

CasterUsers CasterUsers::parse(const QByteArray &text, QString *error)
{
    error->clear();
    CasterUsers users;
    users.mConfigured = true;
    int number = 0;
    for (const QByteArray &raw : text.split('\n')) {
        ++number;
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList fields = line.split(QLatin1Char(':'));
        if (fields.size() < 2 || fields[0].isEmpty() || fields[0].contains(QLatin1Char('/'))) {
            *error = QStringLiteral("line %1: MNT:SOURCE_PASSWORD:USER:PW,... expected").arg(number);
            return {};
        }
        Mount mount;
        mount.sourcePassword = fields[1];
        // User passwords may hold ':' themselves: the user list is everything after the second one.
        const QString list = fields.mid(2).join(QLatin1Char(':'));
        for (const QString &entry : list.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            const qsizetype colon = entry.indexOf(QLatin1Char(':'));
            if (colon <= 0) {
                *error = QStringLiteral("line %1: user '%2' has no password").arg(number).arg(entry);
                return {};
            }
            mount.users.insert(entry.left(colon), entry.mid(colon + 1));
        }
        users.mMounts.insert(fields[0], mount);
    }
    return users;
}

const CasterUsers::Mount *CasterUsers::find(const QString &mount) const
{
    const auto it = mMounts.find(mount);
    return it == mMounts.end() ? nullptr : &*it;
}

// ---- what a stream carries -------------------------------------------------------------

void StreamProfile::observe(const Frame &frame, qint64 nowMs)
{
    if (mFirstMs < 0)
        mFirstMs = nowMs;
    mLastMs = nowMs;
    mBytes += frame.bytes.size();
    TypeSeen &seen = mTypes[frame.type];
    if (seen.count++ == 0)
        seen.firstMs = nowMs;
    seen.lastMs = nowMs;
    if ((frame.type == 1005 || frame.type == 1006) && !mPosition)
        mPosition = stationPosition(frame.bytes);
}

QString StreamProfile::formatDetails() const
{
    QStringList items;
    for (auto it = mTypes.begin(); it != mTypes.end(); ++it) {
        if (it.key() == 0)
            continue;
        const TypeSeen &s = it.value();
        QString item = QString::number(it.key());
        if (s.count > 1)
            item += QStringLiteral("(%1)").arg(std::max<qint64>(1, std::llround(double(s.lastMs - s.firstMs) / 1000 / double(s.count - 1))));
        items << item;
    }
    return items.join(QLatin1Char(','));
}

QString StreamProfile::navigationSystems() const
{
    QStringList names;
    for (auto it = mTypes.begin(); it != mTypes.end(); ++it) {
        const QString name = systemName(it.key());
        if (!name.isEmpty() && !names.contains(name))
            names << name;
    }
    return names.join(QLatin1Char('+'));
}

int StreamProfile::carrier() const
{
    int carrier = 0;
    for (auto it = mTypes.begin(); it != mTypes.end(); ++it) {
        const int t = it.key();
        if (t == 1003 || t == 1004 || t == 1011 || t == 1012 || (msmSystem(t) >= 0 && t % 10 >= 2))
            return 2;
        if (t == 1001 || t == 1002 || t == 1009 || t == 1010)
            carrier = 1;
    }
    return carrier;
}

int StreamProfile::bitrate() const
{
    const qint64 spanMs = mLastMs - mFirstMs;
    return spanMs > 0 ? int(mBytes * 8 * 1000 / spanMs) : 0;
}

// ---- the caster ------------------------------------------------------------------------

struct Caster::Client
{
    quint64 id;
    QString peer;
};

struct Caster::Source
{
    QTcpSocket *socket = nullptr;
    bool chunked = false;
    HttpChunkDecoder chunks;
    FrameSplitter splitter;
};

struct Caster::Mountpoint
{
    QString name;
    StreamProfile profile;
    int group = 0;  // of the fan-out
    std::vector<Client> clients;
    std::unique_ptr<Source> pushed;
    RelayInput *input = nullptr;
    bool nmea = false;
    QByteArray pending;  // frames announced in this pass of the loop
    QString generator = QStringLiteral("rtcm3relay");
    EndpointStats stats;
    bool active() const { return input || pushed; }
};

Caster::Caster(CasterUsers users, QObject *parent)
    : QObject(parent)
    , mUsers(std::move(users))
    , mServer(std::make_unique<QTcpServer>())
    , mClientQueueLimit(BoundedLink::kDefaultLimit)
{
    connect(mServer.get(), &QTcpServer::newConnection, this, [this] { accept(); });
    // Writers beside the event loop, one per core up to four: the loop only hands them batches.
    const int writers = std::clamp(int(std::thread::hardware_concurrency()), 1, 4);
    const bool ring = !qEnvironmentVariableIsSet("RTCM3RELAY_NO_RING");
    mFanout = std::make_unique<Fanout>(writers, [this](const Fanout::Event &e) {
        QMetaObject::invokeMethod(this, [this, kind = int(e.kind), id = e.client, text = e.text] { fanoutEvent(kind, id, text); },
                                  Qt::QueuedConnection);
    }, ring);
}

Caster::~Caster()
{
    close();
    mFanout.reset();
}

bool Caster::listen(const QHostAddress &address, quint16 port, QString *error)
{
    mServer->setListenBacklogSize(1024);
    if (mServer->listen(address, port))
        return true;
    *error = mServer->errorString();
    return false;
}

quint16 Caster::port() const
{
    return mServer->serverPort();
}

void Caster::close()
{
    mServer->close();
    mFanout->closeAll();
    mClientMounts.clear();
    for (auto &[name, mount] : mMounts) {
        mount->clients.clear();  // the summary still tells how many the run ended with
        if (mount->pushed) {
            disconnect(mount->pushed->socket, nullptr, this, nullptr);
            mount->pushed->socket->abort();
            mount->pushed.reset();
        }
    }
}

Caster::Mountpoint &Caster::mountpoint(const QString &name)
{
    auto &slot = mMounts[name];
    if (!slot) {
        slot = std::make_unique<Mountpoint>();
        slot->name = name;
        slot->group = int(mMounts.size());
        slot->stats.role = QStringLiteral("mount");
        slot->stats.name = name;
    }
    return *slot;
}

Caster::Mountpoint *Caster::activeMount(const QString &name)
{
    const auto it = mMounts.find(name);
    return it != mMounts.end() && it->second->active() ? it->second.get() : nullptr;
}

void Caster::attach(RelayInput *input)
{
    Mountpoint &mount = mountpoint(input->mount());
    mount.input = input;
    mount.nmea = input->address().value(QStringLiteral("gga")) == QLatin1String("pass")
        || input->address().value(QStringLiteral("nmea")) == QLatin1String("1");
    connect(input, &RelayInput::frameReady, this, [this, &mount](const Frame &frame) { publish(mount, frame); });
    connect(input, &RelayInput::readDone, this, [this, &mount] { flush(mount); });
}

void Caster::accept()
{
    while (QTcpSocket *socket = mServer->nextPendingConnection()) {
        socket->setParent(this);
        auto header = std::make_shared<QByteArray>();
        auto *timer = new QTimer(socket);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, socket] { refuse(socket, "HTTP/1.1 408 Request Timeout\r\nConnection: close\r\n\r\n"); });
        timer->start(kHeaderTimeoutMs);
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, header, timer] {
            *header += socket->read(kMaxHeaderBytes + 1 - header->size());
            qsizetype end = header->indexOf("\r\n\r\n");
            const qsizetype bare = header->indexOf("\n\n");
            if (end < 0 || (bare >= 0 && bare < end))
                end = bare < 0 ? -1 : bare - 2;
            if (end < 0 && header->size() > kMaxHeaderBytes)
                return refuse(socket, "HTTP/1.1 413 Request Header Fields Too Large\r\nConnection: close\r\n\r\n");
            if (end < 0)
                return;
            delete timer;
            disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
            handleRequest(socket, *header);
        });
    }
}

void Caster::refuse(QTcpSocket *socket, const QByteArray &answer)
{
    disconnect(socket, nullptr, this, nullptr);
    socket->write(answer);
    socket->disconnectFromHost();
}

void Caster::handleRequest(QTcpSocket *socket, const QByteArray &bytes)
{
    qsizetype end = bytes.indexOf("\r\n\r\n");
    qsizetype skip = 4;
    const qsizetype bare = bytes.indexOf("\n\n");
    if (end < 0 || (bare >= 0 && bare < end))
        end = bare, skip = 2;
    const QList<QByteArray> lines = bytes.left(end).replace('\r', "").split('\n');
    const QByteArray rest = bytes.mid(end + skip);
    const QList<QByteArray> words = lines.value(0).simplified().split(' ');
    const QByteArray method = words.value(0);
    const int version = headerValue(lines, "Ntrip-Version").contains("2.0") ? 2 : 1;
    if (method == "SOURCE" && words.size() >= 3) {
        takeSource(socket, QString::fromUtf8(words[2]).remove(0, words[2].startsWith('/') ? 1 : 0), 1, words[1],
                   headerValue(lines, "Source-Agent"), false, rest);
    } else if (method == "POST" && words.size() >= 3 && words[1].startsWith('/')) {
        const auto credentials = basicCredentials(headerValue(lines, "Authorization"));
        takeSource(socket, QString::fromUtf8(words[1].mid(1)), 2, credentials ? credentials->second.toUtf8() : QByteArray(),
                   headerValue(lines, "User-Agent"),
                   headerValue(lines, "Transfer-Encoding").compare("chunked", Qt::CaseInsensitive) == 0, rest);
    } else if (method == "GET" && words.size() >= 2 && words[1].startsWith('/')) {
        const QString mount = QString::fromUtf8(words[1].mid(1)).section(QLatin1Char('?'), 0, 0);
        if (mount.isEmpty())
            return serveTable(socket, version, headerValue(lines, "Host"));
        serveClient(socket, mount, version, headerValue(lines, "Authorization"), rest);
    } else {
        emit note(QStringLiteral("caster: refused a request from %1: \"%2\"").arg(socket->peerAddress().toString(), printable(lines.value(0))));
        return refuse(socket, "HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n");
    }
}

void Caster::serveTable(QTcpSocket *socket, int version, const QByteArray &host)
{
    const QByteArray table = sourceTable(host);
    const QByteArray head = version == 2
        ? "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: " + serverName() + "\r\nContent-Type: gnss/sourcetable\r\n"
        : "SOURCETABLE 200 OK\r\nServer: " + serverName() + "\r\nContent-Type: text/plain\r\n";
    refuse(socket, head + "Content-Length: " + QByteArray::number(table.size()) + "\r\nConnection: close\r\n\r\n" + table);
}

QByteArray Caster::sourceTable(const QByteArray &host) const
{
    QByteArray table;
    if (!host.isEmpty()) {
        const QByteArray name = host.left(host.lastIndexOf(':') > 0 && !host.endsWith(']') ? host.lastIndexOf(':') : host.size());
        table += "CAS;" + name + ';' + QByteArray::number(mServer->serverPort()) + ';' + kNetwork + ";none;0;;0.00;0.00;0.0.0.0;0;none\r\n";
    }
    // Every stream here belongs to one network, the caster's; it asks for passwords where any
    // mountpoint does.
    bool closedAny = false;
    for (const auto &[name, mount] : mMounts) {
        const CasterUsers::Mount *access = mUsers.find(name);
        closedAny = closedAny || (mount->active() && access && !access->users.isEmpty());
    }
    table += QByteArray("NET;") + kNetwork + ';' + kNetwork + ';' + (closedAny ? 'B' : 'N') + ";N;none;none;none;none\r\n";
    for (const auto &[name, mount] : mMounts) {
        if (!mount->active())
            continue;
        const StreamProfile &p = mount->profile;
        const auto position = p.position();
        const CasterUsers::Mount *access = mUsers.find(name);
        const bool closed = access && !access->users.isEmpty();
        const QStringList fields{
            QStringLiteral("STR"), name, name, QStringLiteral("RTCM 3"), p.formatDetails(), QString::number(p.carrier()),
            p.navigationSystems(), QLatin1String(kNetwork), QString(),
            QString::number(position ? position->first : 0.0, 'f', 2), QString::number(position ? position->second : 0.0, 'f', 2),
            mount->nmea ? QStringLiteral("1") : QStringLiteral("0"), QStringLiteral("0"), mount->generator,
            QStringLiteral("none"), closed ? QStringLiteral("B") : QStringLiteral("N"), QStringLiteral("N"),
            QString::number(p.bitrate()), QStringLiteral("none")};
        // Fields are ';'-separated: a name that brought one in would shift every field after it.
        QStringList clean;
        for (const QString &f : fields)
            clean << QString(f).replace(QLatin1Char(';'), QLatin1Char(',')).remove(QLatin1Char('\r')).remove(QLatin1Char('\n'));
        table += clean.join(QLatin1Char(';')).toUtf8() + "\r\n";
    }
    return table + "ENDSOURCETABLE\r\n";
}

void Caster::serveClient(QTcpSocket *socket, const QString &name, int version, const QByteArray &authorization,
                         const QByteArray &early)
{
    Mountpoint *mount = activeMount(name);
    const QString peer = socket->peerAddress().toString();
    if (!mount) {
        emit note(QStringLiteral("caster: %1 asked for unknown mountpoint %2").arg(peer, printable(name.toUtf8())));
        if (version == 2)
            return refuse(socket, "HTTP/1.1 404 Not Found\r\nNtrip-Version: Ntrip/2.0\r\nConnection: close\r\n\r\n");
        return serveTable(socket, 1, {});
    }
    if (const CasterUsers::Mount *access = mUsers.find(name); access && !access->users.isEmpty()) {
        const auto credentials = basicCredentials(authorization);
        if (!credentials || !access->users.contains(credentials->first)
            || access->users.value(credentials->first) != credentials->second) {
            emit note(QStringLiteral("caster: %1 refused on %2: wrong user name or password").arg(peer, name));
            return refuse(socket, (version == 2 ? "HTTP/1.1" : "HTTP/1.0") + QByteArray(" 401 Unauthorized\r\n")
                                      + "WWW-Authenticate: Basic realm=\"/" + name.toUtf8() + "\"\r\nConnection: close\r\n\r\n");
        }
    }
    const QByteArray greeting = version == 2
        ? "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: " + serverName()
              + "\r\nCache-Control: no-store, no-cache, max-age=0\r\nPragma: no-cache\r\n"
                "Content-Type: gnss/data\r\nTransfer-Encoding: chunked\r\nConnection: close\r\n\r\n"
        : QByteArray("ICY 200 OK\r\n");
    // The writers take the connection over on a descriptor of their own; Qt's is closed.
    const QByteArray buffered = early + socket->readAll();
    const int descriptor = ::fcntl(int(socket->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
    if (descriptor < 0) {
        emit note(QStringLiteral("caster: cannot serve %1: %2").arg(peer, QString::fromLocal8Bit(std::strerror(errno))));
        return;
    }
    const Client client{mNextClient++, peer};
    mFanout->add(client.id, mount->group, descriptor, version == 2, mClientQueueLimit, greeting);
    mount->clients.push_back(client);
    mClientMounts.emplace(client.id, mount);
    ++mount->stats.clientsEver;
    mount->stats.clients = qint64(mount->clients.size());
    emit note(QStringLiteral("caster: %1 reads %2 (version %3)").arg(peer, name).arg(version));
    for (const QByteArray &line : buffered.split('\n'))
        if (line.trimmed().startsWith('$'))
            clientLine(*mount, client, line.trimmed());
}

void Caster::clientLine(Mountpoint &mount, const Client &client, const QByteArray &line)
{
    emit note(QStringLiteral("caster: %1 on %2 sent %3").arg(client.peer, mount.name, printable(line)));
    if (!mount.nmea)
        return;
    if (mount.pushed)
        mount.pushed->socket->write(line + "\r\n");
    else if (mount.input)
        mount.input->sendUpstream(line + "\r\n");
}

void Caster::fanoutEvent(int kind, quint64 id, const QByteArray &text)
{
    const auto it = mClientMounts.find(id);
    if (it == mClientMounts.end())
        return;
    Mountpoint &mount = *it->second;
    const auto client = std::find_if(mount.clients.begin(), mount.clients.end(), [id](const Client &c) { return c.id == id; });
    if (client == mount.clients.end())
        return;
    switch (Fanout::Event::Kind(kind)) {
    case Fanout::Event::Kind::Line:
        return clientLine(mount, *client, text);
    case Fanout::Event::Kind::Dropped:
        emit note(QStringLiteral("caster: dropping client %1 of %2: %3").arg(client->peer, mount.name, QString::fromUtf8(text)));
        ++mount.stats.drops;
        break;
    case Fanout::Event::Kind::Left:
        break;
    }
    mount.clients.erase(client);
    mount.stats.clients = qint64(mount.clients.size());
    mClientMounts.erase(it);
}

void Caster::takeSource(QTcpSocket *socket, const QString &name, int version, const QByteArray &password,
                        const QByteArray &agent, bool chunked, const QByteArray &early)
{
    const QString peer = socket->peerAddress().toString();
    const CasterUsers::Mount *access = mUsers.find(name);
    if (name.isEmpty() || (mUsers.configured() && (!access || access->sourcePassword.toUtf8() != password))) {
        emit note(QStringLiteral("caster: source %1 refused for mountpoint %2: unknown mountpoint or wrong password")
                      .arg(peer, printable(name.toUtf8())));
        return refuse(socket, version == 2 ? QByteArray("HTTP/1.1 401 Unauthorized\r\nNtrip-Version: Ntrip/2.0\r\nConnection: close\r\n\r\n")
                                           : QByteArray("ERROR - Bad Password\r\n"));
    }
    Mountpoint &mount = mountpoint(name);
    if (mount.active()) {
        emit note(QStringLiteral("caster: source %1 refused: mountpoint %2 is taken").arg(peer, name));
        return refuse(socket, version == 2 ? QByteArray("HTTP/1.1 409 Conflict\r\nNtrip-Version: Ntrip/2.0\r\nConnection: close\r\n\r\n")
                                           : QByteArray("ERROR - Mount Point Taken or Invalid\r\n"));
    }
    socket->write(version == 2 ? "HTTP/1.1 200 OK\r\nNtrip-Version: Ntrip/2.0\r\nServer: " + serverName() + "\r\nConnection: close\r\n\r\n"
                               : QByteArray("ICY 200 OK\r\n"));
    mount.pushed = std::make_unique<Source>();
    mount.pushed->socket = socket;
    mount.pushed->chunked = chunked;
    if (!agent.isEmpty())
        mount.generator = printable(agent);
    if (mount.stats.clientsEver > 0 || mount.stats.frames > 0)
        ++mount.stats.reconnects;
    emit note(QStringLiteral("caster: %1 feeds mountpoint %2 (version %3)").arg(peer, name).arg(version));
    connect(socket, &QTcpSocket::readyRead, this, [this, &mount, socket] { sourceBytes(mount, socket->readAll()); });
    connect(socket, &QTcpSocket::disconnected, this, [this, &mount, socket, peer] {
        disconnect(socket, nullptr, this, nullptr);
        emit note(QStringLiteral("caster: source %1 of mountpoint %2 left").arg(peer, mount.name));
        mount.pushed.reset();
    });
    if (!early.isEmpty())
        sourceBytes(mount, early);
}

void Caster::sourceBytes(Mountpoint &mount, const QByteArray &bytes)
{
    Source &source = *mount.pushed;
    QByteArray payload;
    if (!source.chunked) {
        payload = bytes;
    } else if (source.chunks.feed(bytes.constData(), bytes.size(), &payload) == HttpChunkDecoder::Result::Error) {
        emit note(QStringLiteral("caster: source of %1: %2").arg(mount.name, source.chunks.error()));
        source.socket->abort();
        return;
    }
    for (const Frame &frame : source.splitter.feed(payload, monotonicNs()))
        publish(mount, frame);
    flush(mount);
}

void Caster::publish(Mountpoint &mount, const Frame &frame)
{
    mount.profile.observe(frame, frame.arrivalNs / 1000000);
    mount.stats.bytes += frame.bytes.size();
    ++mount.stats.frames;
    // Frames of one read go out together, one write per client: when the read is done, or else
    // once this pass of the loop has announced them all (replayed files).
    if (mount.pending.isEmpty())
        QMetaObject::invokeMethod(this, [this, &mount] { flush(mount); }, Qt::QueuedConnection);
    mount.pending += frame.bytes;
}

void Caster::flush(Mountpoint &mount)
{
    const QByteArray bytes = std::exchange(mount.pending, {});
    if (!mount.clients.empty() && !bytes.isEmpty())
        mFanout->publish(mount.group, bytes);
}

QList<EndpointStats> Caster::stats() const
{
    QList<EndpointStats> list;
    for (const auto &[name, mount] : mMounts) {
        EndpointStats s = mount->stats;
        s.state = mount->active() ? QStringLiteral("source present") : QStringLiteral("no source");
        list << s;
    }
    return list;
}
