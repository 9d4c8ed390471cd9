#include "MessageFilter.h"

#include "RTCM3_families.h"

#include <QtCore/QRegularExpression>

MessageFilter MessageFilter::parse(const QString &text, QString *error)
{
    error->clear();
    MessageFilter filter;
    static const QRegularExpression item(QStringLiteral(R"(^(\d{1,4})(?:\((\d+(?:\.\d+)?)\))?$)"));
    for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = item.match(part.trimmed());
        const int type = m.hasMatch() ? m.captured(1).toInt() : 0;
        if (type < 1 || type > Kvt::Nuvrix::wire::Frame::Message_Number.highest) {
            *error = QStringLiteral("not a message number with an optional interval in seconds: '%1'").arg(part);
            return {};
        }
        Rule rule;
        rule.intervalMs = m.captured(2).isEmpty() ? 0 : qint64(m.captured(2).toDouble() * 1000 + 0.5);
        filter.mRules.insert(type, rule);
    }
    return filter;
}

bool MessageFilter::accept(int type, qint64 nowMs)
{
    if (mRules.isEmpty())
        return true;
    const auto it = mRules.find(type);
    if (it == mRules.end())
        return false;
    Rule &rule = *it;
    if (rule.seen && nowMs - rule.lastMs < rule.intervalMs)
        return false;
    rule.seen = true;
    rule.lastMs = nowMs;
    return true;
}
