#include "ReleaseVersion.h"

#include <QList>
#include <QRegularExpression>

#include <algorithm>

namespace {

struct Version {
    QList<quint64> numbers;
    QString preRelease;
};

std::optional<Version> parse(QString text) {
    static const QRegularExpression pattern(QStringLiteral(
        R"(^[vV]?(\d{1,9}(?:\.\d{1,9}){0,3})(?:-([0-9A-Za-z.-]+))?(?:\+[0-9A-Za-z.-]+)?$)"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    Version version;
    for (const QString &part : match.captured(1).split(QLatin1Char('.')))
        version.numbers.append(part.toULongLong());
    version.preRelease = match.captured(2);
    return version;
}

int compareNumbers(QList<quint64> a, QList<quint64> b) {
    const qsizetype length = std::max(a.size(), b.size());
    a.resize(length, 0);
    b.resize(length, 0);
    for (qsizetype i = 0; i < length; ++i) {
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    }
    return 0;
}

} // namespace

namespace ReleaseVersion {

Verdict compare(const QString &latestTag, const QString &currentVersion) {
    const std::optional<Version> latest = parse(latestTag);
    const std::optional<Version> current = parse(currentVersion);
    if (!latest || !current)
        return Verdict::unknown;
    // A pre-release is offered to those who go looking for it, never as
    // the update of an installed release.
    if (!latest->preRelease.isEmpty())
        return Verdict::notNewer;
    const int order = compareNumbers(latest->numbers, current->numbers);
    // The release a running pre-release leads up to is its update.
    if (order == 0 && !current->preRelease.isEmpty())
        return Verdict::newer;
    return order > 0 ? Verdict::newer : Verdict::notNewer;
}

} // namespace ReleaseVersion
