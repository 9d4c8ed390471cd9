#include "NetEndpoint.h"

#include <QtCore/QUrl>

namespace {

const QString kPlainScheme = QStringLiteral("ntrip");
const QString kTlsScheme = QStringLiteral("ntrips");

// Port text to a port in 1..65535; 0 when it is not one.
quint16 portNumber(const QString &text)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    return ok && port >= 1 && port <= 65535 ? quint16(port) : 0;
}

QString hostForDisplay(const QString &host)
{
    return host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
}

bool validMountpoint(const QString &mountpoint)
{
    for (const QChar c : mountpoint)
        if (c.unicode() <= 0x20 || c == QLatin1Char('/') || c.unicode() == 0x7F)
            return false;
    return true;
}

} // namespace

bool NtripEndpoint::isNtripUrl(const QString &text)
{
    return text.startsWith(kPlainScheme + QLatin1String("://"), Qt::CaseInsensitive)
        || text.startsWith(kTlsScheme + QLatin1String("://"), Qt::CaseInsensitive);
}

NtripEndpoint NtripEndpoint::parse(const QString &text, QString *error)
{
    NtripEndpoint endpoint;
    error->clear();
    if (!isNtripUrl(text)) {
        *error = QStringLiteral("not an NTRIP address (ntrip://[user[:password]@]host[:port]/MOUNT): %1").arg(text);
        return endpoint;
    }
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        *error = QStringLiteral("invalid NTRIP address %1: %2 (write @ : / in a user name or password as %40 %3A %2F)")
                     .arg(text, url.errorString());
        return endpoint;
    }
    endpoint.tls = url.scheme().compare(kTlsScheme, Qt::CaseInsensitive) == 0;
    endpoint.host = url.host(QUrl::FullyDecoded);
    endpoint.user = url.userName(QUrl::FullyDecoded);
    endpoint.password = url.password(QUrl::FullyDecoded);
    const QString path = url.path(QUrl::FullyDecoded);
    endpoint.mountpoint = path.mid(1);
    const int port = url.port(endpoint.tls ? kDefaultTlsPort : kDefaultPort);
    if (endpoint.host.isEmpty())
        *error = QStringLiteral("no host in NTRIP address %1").arg(text);
    else if (port < 1 || port > 65535)
        *error = QStringLiteral("port out of range 1..65535 in %1").arg(text);
    else if (url.hasQuery() || url.hasFragment())
        *error = QStringLiteral("unexpected ? or # in NTRIP address %1").arg(text);
    else if (!path.isEmpty() && (!path.startsWith(QLatin1Char('/')) || !validMountpoint(endpoint.mountpoint)))
        *error = QStringLiteral("invalid mountpoint '%1' in %2").arg(endpoint.mountpoint, text);
    endpoint.port = quint16(port);
    return endpoint;
}

QString NtripEndpoint::display() const
{
    const QString who = user.isEmpty() ? QString() : user + QLatin1Char('@');
    return QStringLiteral("%1://%2%3:%4/%5")
        .arg(tls ? kTlsScheme : kPlainScheme, who, hostForDisplay(host))
        .arg(port)
        .arg(mountpoint);
}

TcpEndpoint TcpEndpoint::parse(const QString &text, QString *error)
{
    TcpEndpoint endpoint;
    error->clear();
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    QString host = text.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    else if (host.contains(QLatin1Char(':')))
        host.clear(); // a bare IPv6 address leaves the port ambiguous
    if (colon < 0 || host.isEmpty() || host.contains(QLatin1Char('['))) {
        *error = QStringLiteral("not a TCP address (host:port or [IPv6]:port): %1").arg(text);
        return endpoint;
    }
    endpoint.host = host;
    endpoint.port = portNumber(text.mid(colon + 1));
    if (endpoint.port == 0)
        *error = QStringLiteral("port out of range 1..65535 in %1").arg(text);
    return endpoint;
}

QString TcpEndpoint::display() const
{
    return hostForDisplay(host) + QLatin1Char(':') + QString::number(port);
}
