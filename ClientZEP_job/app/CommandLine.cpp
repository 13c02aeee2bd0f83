#include "CommandLine.h"

CommandLine CommandLine::parse(const QStringList& words) {
    const QString first = words.value(0);
    if (!first.startsWith(QLatin1String("--")))
        return {Bot, words.join(QLatin1Char(' '))};
    const qsizetype rest = words.size() - 1;
    if (first == QLatin1String("--help") || first == QLatin1String("--version")) {
        if (rest != 0)
            return {Wrong, first + QStringLiteral(" takes no arguments")};
        return {first == QLatin1String("--help") ? Help : Version, QString()};
    }
    if (first == QLatin1String("--run-job")) {
        if (rest != 1 || words[1].isEmpty())
            return {Wrong, QStringLiteral("--run-job takes one job name")};
        return {RunJob, words[1]};
    }
    if (first == QLatin1String("--check"))
        return {Check, words.mid(1).join(QLatin1Char(' '))};
    return {Wrong, QStringLiteral("unknown option %1").arg(first)};
}
