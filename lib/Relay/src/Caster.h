#pragma once
// An NTRIP caster on the event loop: mountpoints fed by the relay's inputs or by NTRIP servers
// that push to it (version 1 SOURCE, version 2 POST), served to clients of both versions, with
// a source table made from what each stream carries.

#include "RelayFrame.h"
#include "RelayStats.h"

#include <QtCore/QHash>
#include <QtCore/QMap>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtNetwork/QHostAddress>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>

class Fanout;
class QTcpServer;
class QTcpSocket;
class RelayInput;

// Who may push to and read from each mountpoint. A file of lines
//     MNT:SOURCE_PASSWORD:USER1:PW1,USER2:PW2
// (no users: anyone may read). '#' starts a comment line.
class NUVRIXRELAY_EXPORT CasterUsers
{
public:
    struct Mount
    {
        QString sourcePassword;
        QHash<QString, QString> users;  // name -> password
    };

    static CasterUsers parse(const QByteArray &text, QString *error);
    bool configured() const { return mConfigured; }
    const Mount *find(const QString &mount) const;

private:
    QHash<QString, Mount> mMounts;
    bool mConfigured = false;
};

// What a stream carries, learnt from its frames as they pass, for the source table.
class NUVRIXRELAY_EXPORT StreamProfile
{
public:
    void observe(const Frame &frame, qint64 nowMs);
    // "1004(1),1005(10)": message numbers with their mean interval in seconds.
    QString formatDetails() const;
    QString navigationSystems() const;  // "GPS+GLO"
    int carrier() const;                 // 0 none, 1 L1, 2 L1+L2
    std::optional<std::pair<double, double>> position() const { return mPosition; }  // degrees
    int bitrate() const;                 // bits per second

private:
    struct TypeSeen
    {
        qint64 count = 0;
        qint64 firstMs = 0;
        qint64 lastMs = 0;
    };
    QMap<int, TypeSeen> mTypes;
    qint64 mBytes = 0;
    qint64 mFirstMs = -1;
    qint64 mLastMs = 0;
    std::optional<std::pair<double, double>> mPosition;
};

class NUVRIXRELAY_EXPORT Caster : public QObject
{
    Q_OBJECT

public:
    static constexpr int kMaxHeaderBytes = 8192;
    static constexpr int kHeaderTimeoutMs = 10000;

    explicit Caster(CasterUsers users, QObject *parent = nullptr);
    ~Caster() override;

    bool listen(const QHostAddress &address, quint16 port, QString *error);
    quint16 port() const;
    // The input feeds the mountpoint named by its ?mount= from now on.
    void attach(RelayInput *input);
    // Queue limit of every client, in bytes.
    void setClientQueueLimit(qint64 bytes) { mClientQueueLimit = bytes; }
    // The source table as served (without the HTTP answer).
    QByteArray sourceTable(const QByteArray &host) const;
    QList<EndpointStats> stats() const;
    void close();

signals:
    void note(const QString &message);

private:
    struct Mountpoint;
    struct Client;
    struct Source;
    class Session;

    void accept();
    void handleRequest(QTcpSocket *socket, const QByteArray &header);
    void serveClient(QTcpSocket *socket, const QString &mount, int version, const QByteArray &authorization,
                     const QByteArray &early);
    void takeSource(QTcpSocket *socket, const QString &mount, int version, const QByteArray &password,
                    const QByteArray &agent, bool chunked, const QByteArray &early);
    void sourceBytes(Mountpoint &mount, const QByteArray &bytes);
    void clientLine(Mountpoint &mount, const Client &client, const QByteArray &line);
    void fanoutEvent(int kind, quint64 client, const QByteArray &text);
    void serveTable(QTcpSocket *socket, int version, const QByteArray &host);
    void refuse(QTcpSocket *socket, const QByteArray &answer);
    Mountpoint &mountpoint(const QString &name);
    Mountpoint *activeMount(const QString &name);
    void publish(Mountpoint &mount, const Frame &frame);
    void flush(Mountpoint &mount);

    CasterUsers mUsers;
    std::unique_ptr<QTcpServer> mServer;
    std::map<QString, std::unique_ptr<Mountpoint>> mMounts;
    std::unordered_map<quint64, Mountpoint *> mClientMounts;
    quint64 mNextClient = 1;
    qint64 mClientQueueLimit;
    std::unique_ptr<Fanout> mFanout;
};
