#pragma once
// The dossier's value texts: dates, latencies, ratios and durations as every page prints them.

#include "core/records/Records.h"

#include <QString>

#include <optional>

namespace pv {

struct DossierFormat {
    // "yyyy. MM. dd. HH:mm" in the local time zone, for example "2026. 03. 14. 19:05"; a time in the
    // hour that repeats when daylight-saving time ends carries its offset: "2026. 10. 25. 02:40 (UTC+2)".
    static QString dateText(Timestamp instant);
    // A name received over the air (network name, access point) without the characters that change
    // the writing direction, which would reverse or hide the text around it.
    static QString withoutDirectionalControls(const QString& name);
    // Whole milliseconds ("42 ms"); one that would read "0 ms" reads "kevesebb mint 1 ms", or "<1 ms"
    // with `brief` where space is short; an em dash when absent.
    static QString millisecondsText(std::optional<double> milliseconds, bool brief = false);
    // A quoted text with its definite article: "Az „indítsa újra…”" before a vowel, "A „néha…”"
    // before a consonant; lower case with `capital` false.
    static QString quotedWithArticle(const QString& quoted, bool capital);
    // ratio × 100 with the given number of decimals and a point as separator ("12.3%").
    static QString percentText(double ratio, int digits);
    // Under a day as the screens word an incident's length ("42 mp", "2 perc 57 mp", "35 perc",
    // "1.5 óra"), from a day on "2.0 nap" (whole seconds rounded half away from zero).
    static QString durationText(double seconds);
    // What a table cell shows for a missing value.
    static QString missingValue() { return QStringLiteral("—"); }
};

} // namespace pv
