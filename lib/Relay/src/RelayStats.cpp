#include "RelayStats.h"

#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>

QString EndpointStats::text(const QDateTime &utc) const
{
    QString line = utc.toString(Qt::ISODateWithMs) + QLatin1Char(' ') + role + QLatin1Char(' ') + name
        + QStringLiteral(": %1 bytes, %2 frames").arg(bytes).arg(frames);
    if (clientsEver > 0 || clients > 0)
        line += QStringLiteral(", %1 clients now, %2 in all").arg(clients).arg(clientsEver);
    line += QStringLiteral(", %1 drops, %2 reconnects").arg(drops).arg(reconnects);
    if (!state.isEmpty())
        line += QStringLiteral(" (%1)").arg(state);
    return line;
}

QByteArray EndpointStats::json(const QDateTime &utc) const
{
    QJsonObject o{{"time", utc.toString(Qt::ISODateWithMs)}, {"role", role}, {"name", name},
                  {"bytes", double(bytes)}, {"frames", double(frames)}, {"clients", double(clients)},
                  {"clientsEver", double(clientsEver)}, {"drops", double(drops)},
                  {"reconnects", double(reconnects)}, {"state", state}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}
