#include "LocaleFormat.h"

namespace {

// Walks a QLocale format string, handing each unquoted run of one letter to
// `rewrite` (which returns its replacement) and copying quoted literals as
// they are.
template <typename Rewrite> QString rewriteFormat(const QString &format, Rewrite rewrite) {
    QString out;
    int i = 0;
    while (i < format.size()) {
        const QChar ch = format.at(i);
        if (ch == u'\'') {
            const int end = format.indexOf(u'\'', i + 1);
            const int stop = end < 0 ? format.size() : end + 1;
            out += format.mid(i, stop - i);
            i = stop;
            continue;
        }
        int run = i + 1;
        while (run < format.size() && format.at(run) == ch)
            ++run;
        out += rewrite(format.mid(i, run - i), &run);
        i = run;
    }
    return out;
}

bool isFiller(QChar ch) {
    return ch.isSpace() || ch == u',' || ch == u'\u060C' || ch == u'\uFF0C';
}

QString tidy(QString format) {
    format.replace(QStringLiteral("()"), QString());
    format = format.simplified();
    while (!format.isEmpty() && isFiller(format.back()))
        format.chop(1);
    while (!format.isEmpty() && isFiller(format.front()))
        format.remove(0, 1);
    return format;
}

} // namespace

namespace LocaleFormat {

QString standardTime(const QDateTime &time, const QLocale &locale) {
    // The short format with seconds after the minutes, in the separator the
    // locale puts before the minutes ("h:mm AP" -> "h:mm:ss AP").
    QString format;
    bool hasSeconds = false;
    const QString shortFormat = locale.timeFormat(QLocale::ShortFormat);
    rewriteFormat(shortFormat, [&](const QString &run, int *) {
        hasSeconds |= run.front() == u's';
        return run;
    });
    if (hasSeconds)
        return locale.toString(time.toLocalTime().time(), shortFormat);
    rewriteFormat(shortFormat, [&](const QString &run, int *next) {
        const int start = *next - int(run.size());
        if (format.isEmpty() && run == QStringLiteral("mm") && start > 0 &&
            (shortFormat.at(start - 1) == u':' || shortFormat.at(start - 1) == u'.'))
            format = shortFormat.left(*next) + shortFormat.at(start - 1) + QStringLiteral("ss") +
                     shortFormat.mid(*next);
        return run;
    });
    // Otherwise the long format, which has seconds, without its time zone.
    if (format.isEmpty()) {
        format = tidy(
            rewriteFormat(locale.timeFormat(QLocale::LongFormat), [](const QString &run, int *) {
                return run.front() == u't' ? QString() : run;
            }));
    }
    return locale.toString(time.toLocalTime().time(), format);
}

QString abbreviatedDate(const QDateTime &time, const QLocale &locale) {
    const QString longFormat = locale.dateFormat(QLocale::LongFormat);
    const QString format = tidy(rewriteFormat(longFormat, [&](const QString &run, int *next) {
        if (run.front() == u'd' && run.size() >= 3) {
            // A weekday goes, with the separator that followed it.
            while (*next < longFormat.size() && isFiller(longFormat.at(*next)))
                ++*next;
            return QString();
        }
        if (run.front() == u'M' && run.size() >= 4)
            return QStringLiteral("MMM");
        return run;
    }));
    return locale.toString(time.toLocalTime().date(), format);
}

QString shortenedTime(const QDateTime &time, const QLocale &locale) {
    return locale.toString(time.toLocalTime().time(), QLocale::ShortFormat);
}

} // namespace LocaleFormat
