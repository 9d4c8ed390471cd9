#include "Selection.h"

#include <QtCore/QRegularExpression>

bool Selection::add(const QStringList &lists, std::bitset<kNumbers> *numbers, bool *given, QString *error)
{
    static const QRegularExpression item(QStringLiteral(R"(^\s*([0-9]{1,4})\s*(?:-\s*([0-9]{1,4})\s*)?$)"));
    for (const QString &list : lists) {
        const QStringList items = list.split(QLatin1Char(','), Qt::SkipEmptyParts);
        if (items.isEmpty() || list.trimmed().isEmpty()) {
            *error = QStringLiteral("an empty list of message numbers");
            return false;
        }
        for (const QString &text : items) {
            const QRegularExpressionMatch match = item.match(text);
            const int first = match.captured(1).toInt();
            const int last = match.captured(2).isEmpty() ? first : match.captured(2).toInt();
            if (!match.hasMatch() || last >= kNumbers || last < first) {
                *error = QStringLiteral("'%1' is not a message number (0 to %2) or a range such as 1071-1077")
                             .arg(text.trimmed())
                             .arg(kNumbers - 1);
                return false;
            }
            for (int n = first; n <= last; ++n)
                numbers->set(size_t(n));
        }
        if (given)
            *given = true;
    }
    return true;
}
