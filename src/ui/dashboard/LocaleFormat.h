#pragma once

#include <QDateTime>
#include <QLocale>
#include <QString>

// Date and time styles Qt's QLocale does not name directly, derived from the
// locale's own formats so that word order and separators stay the locale's.
namespace LocaleFormat {

// Hours, minutes and seconds, no date and no time zone ("9:15:04 AM").
QString standardTime(const QDateTime &time, const QLocale &locale = QLocale());
// Month abbreviated, no weekday ("Mar 1, 2026", "1. März 2026").
QString abbreviatedDate(const QDateTime &time, const QLocale &locale = QLocale());
// Hours and minutes ("9:15 AM").
QString shortenedTime(const QDateTime &time, const QLocale &locale = QLocale());

} // namespace LocaleFormat
