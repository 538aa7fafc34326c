#include "core/records/Localization.h"

#include <QCoreApplication>

#include <array>
#include <charconv>
#include <algorithm>
#include <cmath>
#include <vector>

namespace pv {

namespace {
constexpr const char* kContext = "Polvarine";

QString lookup(const QString& key)
{
    if (QCoreApplication::instance() == nullptr)
        return key;
    const QByteArray utf8 = key.toUtf8();
    const QString translated = QCoreApplication::translate(kContext, utf8.constData());
    return translated.isEmpty() ? key : translated;
}

QString numberText(double v, char conv, int precision)
{
    if (std::isnan(v))
        return QStringLiteral("nan");
    if (std::isinf(v))
        return v < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    std::array<char, 512> buf{};
    std::to_chars_result r{};
    if (conv == 'f' || conv == 'F')
        r = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed, precision);
    else if (conv == 'e' || conv == 'E')
        r = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::scientific, precision);
    else
        r = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::general,
                          precision == 0 ? 1 : precision);
    if (r.ec != std::errc())
        return QStringLiteral("?");
    return QString::fromLatin1(buf.data(), static_cast<int>(r.ptr - buf.data()));
}

QString pad(QString s, int width, bool left, bool zero)
{
    if (width <= 0 || s.size() >= width)
        return s;
    const int n = width - static_cast<int>(s.size());
    if (left)
        return s + QString(n, QLatin1Char(' '));
    if (zero) {
        const bool neg = s.startsWith(QLatin1Char('-'));
        return (neg ? QStringLiteral("-") : QString()) + QString(n, QLatin1Char('0')) + s.mid(neg ? 1 : 0);
    }
    return QString(n, QLatin1Char(' ')) + s;
}
} // namespace

QString formatFixed(double value, int precision) { return numberText(value, 'f', precision); }

namespace {
bool readsAsZero(const QString& whole) { return whole == QLatin1String("0") || whole == QLatin1String("-0"); }
} // namespace

QString millisecondsText(double ms)
{
    const QString whole = formatFixed(ms, 0);
    if (readsAsZero(whole))
        return L("kevesebb mint 1 ms");
    return whole + QStringLiteral(" ms");
}

QString coveragePercentFigure(double ratio)
{
    const double percent = std::clamp(ratio, 0.0, 1.0) * 100.0;
    const double shown = percent > 0 && percent < 1 ? 1 : percent > 99 && percent < 100 ? 99 : std::round(percent);
    return formatFixed(shown, 0);
}

QString keptStretchText(double seconds)
{
    const double stretch = std::max(0.0, seconds);
    return stretch >= 86400 ? QStringLiteral("%1 nap").arg(std::max<long long>(1, std::llround(stretch / 86400)))
                            : QStringLiteral("%1 óra").arg(std::max<long long>(1, std::llround(stretch / 3600)));
}

QString wholeMillisecondsFigure(double ms)
{
    const QString whole = formatFixed(ms, 0);
    return readsAsZero(whole) ? QStringLiteral("<1") : whole;
}

QString formatPrintf(const QString& format, std::initializer_list<FormatArg> argList)
{
    const std::vector<FormatArg> args(argList);
    QString out;
    out.reserve(format.size() + 16);
    std::size_t nextArg = 0;
    const qsizetype n = format.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = format.at(i);
        if (c != QLatin1Char('%')) {
            out.append(c);
            continue;
        }
        const qsizetype start = i;
        ++i;
        if (i >= n) {
            out.append(c);
            break;
        }
        if (format.at(i) == QLatin1Char('%')) {
            out.append(QLatin1Char('%'));
            continue;
        }
        // Optional position "N$".
        std::size_t position = 0;
        {
            qsizetype j = i;
            std::size_t num = 0;
            while (j < n && format.at(j).isDigit()) {
                num = num * 10 + static_cast<std::size_t>(format.at(j).digitValue());
                ++j;
            }
            if (j < n && j > i && format.at(j) == QLatin1Char('$')) {
                position = num;
                i = j + 1;
            }
        }
        bool left = false, zero = false, plus = false;
        while (i < n && QStringLiteral("-0+ #").contains(format.at(i))) {
            if (format.at(i) == QLatin1Char('-')) left = true;
            if (format.at(i) == QLatin1Char('0')) zero = true;
            if (format.at(i) == QLatin1Char('+')) plus = true;
            ++i;
        }
        int width = 0;
        while (i < n && format.at(i).isDigit())
            width = width * 10 + format.at(i++).digitValue();
        int precision = -1;
        if (i < n && format.at(i) == QLatin1Char('.')) {
            ++i;
            precision = 0;
            while (i < n && format.at(i).isDigit())
                precision = precision * 10 + format.at(i++).digitValue();
        }
        while (i < n && QStringLiteral("lhqzjt").contains(format.at(i)))
            ++i;
        if (i >= n) {
            out.append(format.mid(start));
            break;
        }
        const char conv = static_cast<char>(format.at(i).toLatin1());
        const std::size_t index = position > 0 ? position - 1 : nextArg++;
        if (index >= args.size()) {
            out.append(format.mid(start, i - start + 1));
            continue;
        }
        const auto& v = args[index].value();
        QString piece;
        switch (conv) {
        case '@':
        case 's':
            if (const auto* s = std::get_if<QString>(&v)) piece = *s;
            else if (const auto* ll = std::get_if<long long>(&v)) piece = QString::number(*ll);
            else piece = numberText(std::get<double>(v), 'g', 17);
            if (precision >= 0 && conv == 's') piece = piece.left(precision);
            break;
        case 'd':
        case 'i':
        case 'u': {
            long long x = 0;
            if (const auto* ll = std::get_if<long long>(&v)) x = *ll;
            else if (const auto* d = std::get_if<double>(&v)) x = static_cast<long long>(*d);
            piece = QString::number(x);
            if (plus && x >= 0) piece.prepend(QLatin1Char('+'));
            break;
        }
        case 'f':
        case 'F':
        case 'e':
        case 'E':
        case 'g':
        case 'G': {
            double x = 0;
            if (const auto* d = std::get_if<double>(&v)) x = *d;
            else if (const auto* ll = std::get_if<long long>(&v)) x = static_cast<double>(*ll);
            piece = numberText(x, conv, precision < 0 ? 6 : precision);
            if (plus && !piece.startsWith(QLatin1Char('-'))) piece.prepend(QLatin1Char('+'));
            break;
        }
        default:
            piece = format.mid(start, i - start + 1);
            break;
        }
        out.append(pad(piece, width, left, zero && !left && conv != '@' && conv != 's'));
    }
    return out;
}

QString L(const char* key) { return lookup(QString::fromUtf8(key)); }
QString L(const QString& key) { return lookup(key); }

QString LF(const char* key, std::initializer_list<FormatArg> args) { return formatPrintf(L(key), args); }
QString LF(const QString& key, std::initializer_list<FormatArg> args) { return formatPrintf(L(key), args); }

} // namespace pv
