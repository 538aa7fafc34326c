#pragma once
// Dates and times for people, in Hungarian (as every text the program shows) and the user's time
// zone, through ICU (Qt has no medium date and time style of its own), whatever the system's locale.

#include <QLocale>
#include <QString>

namespace pv {

// ICU's medium date and medium time style, for example "2024. márc. 31. 1:00:00" in Hungarian or
// "Mar 31, 2024, 1:00:00 AM" in a forced English, in the user's time zone.
QString mediumDateTimeText(double secondsSince1970);

// The locale's best pattern for a skeleton such as "MMMdHHmm" or "yMMMd", in the user's time zone.
// An empty skeleton gives an empty text.
QString skeletonDateTimeText(double secondsSince1970, const QString& skeleton);

// The ICU locale the two functions above use: the forced one when set, otherwise "hu_HU", under any
// system locale (a C or English one included).
QString dateTextLocale();
// The same locale for Qt's own date and time formatting (month names, time formats): every date a
// user reads goes through this one or the two functions above, never QLocale::system().
QLocale dateLocale();

// Forces the locale of the functions above, for example "en_US" or "hu_HU"; an empty text goes back
// to Hungarian. Meant for tests and byte-exact output.
void setDateTextLocale(const QString& icuLocale);

// The user's time zone by its IANA name, for example "Europe/Budapest"; "UTC" when the system names none.
QString timeZoneName();
// The user's time zone's offset from UTC at an instant, in seconds.
int utcOffsetAt(double secondsSince1970);
// True when the instant's local clock time occurs twice, in the hour that repeats when daylight-saving
// time ends: such a time needs its offset to say which of the two it is.
bool isRepeatedLocalTime(double secondsSince1970);
// The offset at the instant as "UTC+2", "UTC+5:30" or "UTC-3".
QString utcOffsetText(double secondsSince1970);

} // namespace pv
