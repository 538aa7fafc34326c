#pragma once
// Localisation lookup and locale-free printf-style formatting.
//
// Every user-visible text is written in the code as its own Hungarian (or English) sentence; that
// sentence is the lookup key. Without an installed translation the key comes back unchanged.

#include <QString>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <variant>

namespace pv {

// One formatting argument: text ("%@"), a whole number ("%d", "%lld") or a double ("%.1f").
class FormatArg {
public:
    FormatArg(const QString& s) : value_(s) {}
    FormatArg(const char* s) : value_(QString::fromUtf8(s)) {}
    FormatArg(const std::string& s) : value_(QString::fromStdString(s)) {}
    FormatArg(int v) : value_(static_cast<long long>(v)) {}
    FormatArg(long v) : value_(static_cast<long long>(v)) {}
    FormatArg(long long v) : value_(v) {}
    FormatArg(unsigned v) : value_(static_cast<long long>(v)) {}
    FormatArg(unsigned long v) : value_(static_cast<long long>(v)) {}
    FormatArg(unsigned long long v) : value_(static_cast<long long>(v)) {}
    FormatArg(double v) : value_(v) {}
    FormatArg(float v) : value_(static_cast<double>(v)) {}

    const std::variant<QString, long long, double>& value() const { return value_; }

private:
    std::variant<QString, long long, double> value_;
};

// Looks the key up in the application's translations for the current locale; the key itself when
// there is no entry. Never cached.
QString L(const char* key);
QString L(const QString& key);

// L, then printf-style formatting without a locale: a point is always the decimal separator.
// Supports %@, %s, %d, %i, %ld, %lld, %u, %llu, %f with precision and width, %g, %%, and
// positional forms such as "%1$@" and "%2$lld".
QString LF(const char* key, std::initializer_list<FormatArg> args);
QString LF(const QString& key, std::initializer_list<FormatArg> args);

// The formatter alone, for texts that are not looked up.
QString formatPrintf(const QString& format, std::initializer_list<FormatArg> args);

// A double in fixed notation with printf's rounding (ties of the exact binary value to even),
// a point as the separator, whatever the locale.
QString formatFixed(double value, int precision);

// A time in whole milliseconds for a sentence: "12 ms"; where the whole figure would read 0,
// "kevesebb mint 1 ms".
QString millisecondsText(double ms);
// A measured share of a period as a whole percent figure, without the sign: a share above none
// never reads "0", nor one short of all "100" (the history and the dossier say alike).
QString coveragePercentFigure(double ratio);
// A stretch of time kept or measured, as the notes on raw samples name it: whole days ("7 nap") from a
// day up, whole hours ("20 óra") below; never zero.
QString keptStretchText(double seconds);
// The same figure without its unit, for a place short of room that sets the unit beside it: "12",
// or "<1" where it would read 0.
QString wholeMillisecondsFigure(double ms);

} // namespace pv
