#include "RelayAddress.h"

#include <QtCore/QUrl>
#include <QtCore/QUrlQuery>

#include <algorithm>

namespace {

// Splits "body?key=v&k2=v2" into the body and its parameters.
QString takeQuery(const QString &text, QMap<QString, QString> *query)
{
    const qsizetype mark = text.lastIndexOf(QLatin1Char('?'));
    if (mark < 0)
        return text;
    const QUrlQuery items(text.mid(mark + 1));
    for (const auto &item : items.queryItems(QUrl::FullyDecoded))
        query->insert(item.first, item.second);
    return text.left(mark);
}

bool hostPort(const QString &text, QString *host, quint16 *port, QString *error)
{
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    bool ok = false;
    const uint value = colon < 0 ? 0 : text.mid(colon + 1).toUInt(&ok);
    if (!ok || value == 0 || value > 65535) {
        *error = QStringLiteral("'%1' needs HOST:PORT or :PORT with a port from 1 to 65535").arg(text);
        return false;
    }
    *host = text.left(colon);
    if (host->startsWith(QLatin1Char('[')) && host->endsWith(QLatin1Char(']')))
        *host = host->mid(1, host->size() - 2);
    *port = quint16(value);
    return true;
}

} // namespace

RelayAddress RelayAddress::parse(const QString &text, QString *error)
{
    error->clear();
    RelayAddress a;
    a.text = text;
    const QString body = takeQuery(text, &a.query);
    if (body == QLatin1String("-")) {
        a.kind = Kind::Stdio;
    } else if (NtripEndpoint::isNtripUrl(body)) {
        a.kind = Kind::Ntrip;
        a.ntrip = NtripEndpoint::parse(body, error);
        a.text = a.ntrip.display();
        if (error->isEmpty() && a.ntrip.mountpoint.isEmpty())
            *error = QStringLiteral("'%1' names no mountpoint").arg(a.text);
    } else if (body.startsWith(QLatin1String("tcp://"))) {
        if (hostPort(body.mid(6), &a.host, &a.port, error))
            a.kind = a.host.isEmpty() ? Kind::TcpListen : Kind::TcpConnect;
    } else if (body.startsWith(QLatin1String("udp://"))) {
        a.kind = Kind::Udp;
        hostPort(body.mid(6), &a.host, &a.port, error);
    } else if (body.startsWith(QLatin1String("serial://"))) {
        a.kind = Kind::Serial;
        a.path = body.mid(9);
        if (a.path.isEmpty())
            *error = QStringLiteral("'%1' names no serial device").arg(text);
    } else if (body.contains(QLatin1String("://"))) {
        *error = QStringLiteral("'%1': unknown scheme").arg(text);
    } else {
        a.kind = Kind::File;
        a.path = body;
    }
    return a;
}

int Backoff::next()
{
    const int delay = mNextMs;
    mNextMs = std::min(mMaxMs, mNextMs * 2);
    return delay;
}
