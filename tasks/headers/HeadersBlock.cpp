#include "tasks/headers/HeadersBlock.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>

QStringList HeaderLines(const QString &text) {
    QString unified = text;
    unified.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    unified.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    if (unified.isEmpty())
        return {};
    if (unified.endsWith(QLatin1Char('\n')))
        unified.chop(1);
    return unified.split(QLatin1Char('\n'));
}

bool NormaliseHeaders(const QString &text, QString &block) {
    const QStringList lines = HeaderLines(text);
    if (lines.isEmpty())
        return false;
    QCollator collator(QLocale::system());
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    // Blank first; lines equal but for case compare equal whatever the collation says.
    const auto compare = [&collator](const QString &a, const QString &b) {
        if (a.isEmpty() || b.isEmpty())
            return a.isEmpty() ? (b.isEmpty() ? 0 : -1) : 1;
        if (a.compare(b, Qt::CaseInsensitive) == 0)
            return 0;
        const int order = collator.compare(a, b);
        return order != 0 ? order : a.compare(b, Qt::CaseInsensitive);
    };
    QStringList sorted;
    for (const QString &line : lines) {
        const auto at = std::lower_bound(
            sorted.begin(), sorted.end(), line,
            [&compare](const QString &a, const QString &b) { return compare(a, b) < 0; });
        if (at != sorted.end() && compare(*at, line) == 0)
            continue;
        sorted.insert(at, line);
    }
    block.clear();
    for (const QString &line : sorted)
        block += line + QLatin1String("\r\n");
    return true;
}
