#include "core/records/LocaleDates.h"

#include <QDateTime>
#include <QLocale>
#include <QMutex>
#include <QTimeZone>

#include <unicode/udat.h>
#include <unicode/udatpg.h>
#include <unicode/ustring.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <vector>

namespace pv {

namespace {

QMutex overrideMutex;
QString forcedLocale; // guarded by overrideMutex

struct FormatCloser {
    void operator()(UDateFormat* f) const { udat_close(f); }
};
using FormatPtr = std::unique_ptr<UDateFormat, FormatCloser>;

std::u16string utf16(const QString& s) { return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), s.size()); }

QString timeZoneId()
{
    const QByteArray id = QTimeZone::systemTimeZoneId();
    return id.isEmpty() ? QStringLiteral("UTC") : QString::fromUtf8(id);
}

// Formatters are costly to open: keep one per thread for each locale, zone and style.
UDateFormat* formatter(const QString& skeleton)
{
    thread_local std::map<QString, FormatPtr> cache;
    const QString locale = dateTextLocale();
    const QString zone = timeZoneId();
    const QString key = locale + QLatin1Char('\x1f') + zone + QLatin1Char('\x1f') + skeleton;
    if (auto it = cache.find(key); it != cache.end())
        return it->second.get();

    const QByteArray localeId = locale.toUtf8();
    const std::u16string zone16 = utf16(zone);
    UErrorCode status = U_ZERO_ERROR;
    UDateFormat* format = nullptr;
    if (skeleton.isEmpty()) {
        format = udat_open(UDAT_MEDIUM, UDAT_MEDIUM, localeId.constData(), reinterpret_cast<const UChar*>(zone16.data()),
                           static_cast<int32_t>(zone16.size()), nullptr, -1, &status);
    } else {
        UDateTimePatternGenerator* generator = udatpg_open(localeId.constData(), &status);
        if (U_FAILURE(status))
            return nullptr;
        const std::u16string skeleton16 = utf16(skeleton);
        std::vector<UChar> pattern(128);
        int32_t length = udatpg_getBestPattern(generator, reinterpret_cast<const UChar*>(skeleton16.data()),
                                               static_cast<int32_t>(skeleton16.size()), pattern.data(),
                                               static_cast<int32_t>(pattern.size()), &status);
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            status = U_ZERO_ERROR;
            pattern.resize(static_cast<size_t>(length) + 1);
            length = udatpg_getBestPattern(generator, reinterpret_cast<const UChar*>(skeleton16.data()),
                                           static_cast<int32_t>(skeleton16.size()), pattern.data(),
                                           static_cast<int32_t>(pattern.size()), &status);
        }
        udatpg_close(generator);
        if (U_FAILURE(status))
            return nullptr;
        format = udat_open(UDAT_PATTERN, UDAT_PATTERN, localeId.constData(), reinterpret_cast<const UChar*>(zone16.data()),
                           static_cast<int32_t>(zone16.size()), pattern.data(), length, &status);
    }
    if (U_FAILURE(status)) {
        if (format != nullptr)
            udat_close(format);
        return nullptr;
    }
    return cache.emplace(key, FormatPtr(format)).first->second.get();
}

QString formatted(double secondsSince1970, const QString& skeleton)
{
    UDateFormat* format = formatter(skeleton);
    if (format == nullptr)
        return {};
    const UDate when = secondsSince1970 * 1000.0;
    UChar buffer[128];
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = udat_format(format, when, buffer, 128, nullptr, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) {
        std::vector<UChar> longer(static_cast<size_t>(length) + 1);
        status = U_ZERO_ERROR;
        length = udat_format(format, when, longer.data(), static_cast<int32_t>(longer.size()), nullptr, &status);
        return U_FAILURE(status) ? QString() : QString::fromUtf16(reinterpret_cast<const char16_t*>(longer.data()), length);
    }
    if (U_FAILURE(status))
        return {};
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(buffer), length);
}

} // namespace

QString dateTextLocale()
{
    {
        QMutexLocker lock(&overrideMutex);
        if (!forcedLocale.isEmpty())
            return forcedLocale;
    }
    return QStringLiteral("hu_HU");
}

QLocale dateLocale() { return QLocale(dateTextLocale()); }

void setDateTextLocale(const QString& icuLocale)
{
    QMutexLocker lock(&overrideMutex);
    forcedLocale = icuLocale;
}

QString mediumDateTimeText(double secondsSince1970) { return formatted(secondsSince1970, QString()); }

QString skeletonDateTimeText(double secondsSince1970, const QString& skeleton)
{
    if (skeleton.isEmpty())
        return {};
    return formatted(secondsSince1970, skeleton);
}

QString timeZoneName() { return timeZoneId(); }

int utcOffsetAt(double secondsSince1970)
{
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(std::floor(secondsSince1970 * 1000.0)), Qt::LocalTime)
        .offsetFromUtc();
}

bool isRepeatedLocalTime(double t)
{
    // A change of offset lies at most a few hours away from any time of the repeated hour: the same
    // clock time under the offset found there, if it is a real instant, is the time's twin.
    constexpr double reach = 3 * 3600.0;
    const int offset = utcOffsetAt(t);
    for (const double probe : {t - reach, t + reach}) {
        const int other = utcOffsetAt(probe);
        if (other != offset && utcOffsetAt(t + offset - other) == other)
            return true;
    }
    return false;
}

QString utcOffsetText(double secondsSince1970)
{
    const int offset = utcOffsetAt(secondsSince1970);
    const int minutes = std::abs(offset) / 60;
    QString text = QStringLiteral("UTC") + QLatin1Char(offset < 0 ? '-' : '+') + QString::number(minutes / 60);
    if (minutes % 60 != 0)
        text += QLatin1Char(':') + QStringLiteral("%1").arg(minutes % 60, 2, 10, QLatin1Char('0'));
    return text;
}

} // namespace pv
