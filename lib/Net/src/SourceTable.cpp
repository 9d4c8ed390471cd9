#include "SourceTable.h"

#include <cmath>

namespace {

// Fields are separated by semicolons; a semicolon inside double quotes belongs to the field.
QStringList splitFields(const QString &line)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (const QChar c : line) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        if (c == QLatin1Char(';') && !quoted) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

double coordinate(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    return ok && std::isfinite(value) ? value : qQNaN();
}

SourceTableStream streamRecord(const QStringList &f)
{
    const auto at = [&f](int i) { return i < f.size() ? f[i].trimmed() : QString(); };
    SourceTableStream s;
    s.mountpoint = at(1);
    s.identifier = at(2);
    s.format = at(3);
    s.formatDetails = at(4);
    s.carrier = at(5).toInt();
    s.navSystems = at(6);
    s.network = at(7);
    s.country = at(8);
    s.latitudeDeg = coordinate(at(9));
    s.longitudeDeg = coordinate(at(10));
    s.needsPosition = at(11) == QLatin1String("1");
    s.networkSolution = at(12) == QLatin1String("1");
    s.generator = at(13);
    s.compression = at(14);
    s.authentication = at(15);
    s.fee = at(16).compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0;
    s.bitrate = at(17).toInt();
    s.misc = f.mid(18).join(QLatin1Char(';'));
    return s;
}

} // namespace

SourceTable SourceTable::parse(const QByteArray &text)
{
    SourceTable table;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.startsWith(QLatin1String("ENDSOURCETABLE")))
            break;
        QStringList fields = splitFields(line);
        const QString type = fields.first().toUpper();
        if (type == QLatin1String("STR") && fields.size() > 1 && !fields[1].trimmed().isEmpty())
            table.streams << streamRecord(fields);
        else if (type == QLatin1String("CAS"))
            table.casters << fields.mid(1);
        else if (type == QLatin1String("NET"))
            table.networks << fields.mid(1);
        else
            continue;
        fields.first() = type;
        table.records << fields;
    }
    return table;
}
