#include "SourceTableListing.h"

#include "Printer.h"

#include "GnssFormat.h"

#include <cmath>
#include <string>
#include <vector>

namespace {

enum class Kind {
    Text,
    Integer,
    Number,
    Flag,   // 0 or 1
    YesNo,  // Y or N
};

struct Field
{
    const char *name;
    Kind kind;
};

struct Layout
{
    const char *type;
    std::vector<Field> fields;  // then "misc": whatever follows, as sent
};

const Layout kLayouts[] = {
    {"STR", {{"mountpoint", Kind::Text}, {"identifier", Kind::Text}, {"format", Kind::Text},
             {"formatDetails", Kind::Text}, {"carrier", Kind::Integer}, {"navSystem", Kind::Text},
             {"network", Kind::Text}, {"country", Kind::Text}, {"latitude", Kind::Number},
             {"longitude", Kind::Number}, {"nmea", Kind::Flag}, {"solution", Kind::Integer},
             {"generator", Kind::Text}, {"compression", Kind::Text}, {"authentication", Kind::Text},
             {"fee", Kind::YesNo}, {"bitrate", Kind::Integer}}},
    {"CAS", {{"host", Kind::Text}, {"port", Kind::Integer}, {"identifier", Kind::Text}, {"operator", Kind::Text},
             {"nmea", Kind::Flag}, {"country", Kind::Text}, {"latitude", Kind::Number},
             {"longitude", Kind::Number}, {"fallbackHost", Kind::Text}, {"fallbackPort", Kind::Integer}}},
    {"NET", {{"identifier", Kind::Text}, {"operator", Kind::Text}, {"authentication", Kind::Text},
             {"fee", Kind::YesNo}, {"webNet", Kind::Text}, {"webStr", Kind::Text}, {"webReg", Kind::Text}}},
};

// The value as JSON when it is what its field holds; empty when it is not, so that the
// caster's text is kept as a string instead.
QByteArray typedJson(const QString &value, Kind kind)
{
    bool ok = false;
    switch (kind) {
    case Kind::Text:
        return {};
    case Kind::Integer: {
        const qlonglong number = value.toLongLong(&ok);
        return ok ? QByteArray::number(number) : QByteArray();
    }
    case Kind::Number: {
        const double number = value.toDouble(&ok);
        return ok && std::isfinite(number) ? QByteArray::number(number, 'g', 12) : QByteArray();
    }
    case Kind::Flag:
        return value == QLatin1String("1") ? "true" : value == QLatin1String("0") ? "false" : QByteArray();
    case Kind::YesNo:
        return value.compare(QLatin1String("Y"), Qt::CaseInsensitive) == 0   ? "true"
            : value.compare(QLatin1String("N"), Qt::CaseInsensitive) == 0 ? "false"
                                                                            : QByteArray();
    }
    return {};
}

void appendText(QByteArray &line, const char *name, const QString &value, Kind kind)
{
    line += ' ';
    line += name;
    line += '=';
    if (!typedJson(value, kind).isEmpty())
        line += value.toUtf8();
    else
        line += '"' + Printer::escaped(value.toUtf8(), '"').toUtf8() + '"';
}

void appendJson(QByteArray &line, const char *name, const QString &value, Kind kind)
{
    line += ",\"";
    line += name;
    line += "\":";
    const QByteArray typed = typedJson(value, kind);
    if (!typed.isEmpty()) {
        line += typed;
    } else if (value.isEmpty() && kind != Kind::Text) {
        line += "null";
    } else {
        std::string quoted;
        const QByteArray bytes = value.toUtf8();
        Kvt::Gnss::appendJsonString(quoted, std::string_view(bytes.constData(), size_t(bytes.size())));
        line += QByteArray::fromStdString(quoted);
    }
}

} // namespace

QByteArray sourceTableLine(const QStringList &record, bool json)
{
    const QString type = record.value(0);
    QByteArray line = json ? "{\"type\":\"" + type.toUtf8() + '"' : type.toUtf8();
    const auto add = [&](const char *name, const QString &value, Kind kind) {
        json ? appendJson(line, name, value.trimmed(), kind) : appendText(line, name, value.trimmed(), kind);
    };
    for (const Layout &layout : kLayouts) {
        if (type != QLatin1String(layout.type))
            continue;
        int at = 1;
        for (const Field &field : layout.fields)
            add(field.name, record.value(at++), field.kind);
        add("misc", record.mid(at).join(QLatin1Char(';')), Kind::Text);
    }
    return line + (json ? "}\n" : "\n");
}
