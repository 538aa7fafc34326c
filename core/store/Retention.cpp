#include "core/store/Retention.h"

#include <charconv>
#include <cmath>
#include <string_view>

namespace pv {

QString shortestDoubleText(double value)
{
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    std::string_view text(buf, ec == std::errc() ? static_cast<std::size_t>(end - buf) : 0);
    QString out = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    if (std::isfinite(value) && text.find_first_of(".e") == std::string_view::npos)
        out += QStringLiteral(".0");
    return out;
}

QString SampleRollup::id() const
{
    return shortestDoubleText(bucketStart) + QLatin1Char('-') + shortestDoubleText(bucketSeconds) +
           QLatin1Char('-') + rawValue(targetKind) +
           (family == AddressFamily::ipv6 ? QStringLiteral("-ipv6") : QString());
}

std::optional<double> SampleRollup::successRatio() const
{
    if (sampleCount < 1)
        return std::nullopt;
    return static_cast<double>(successCount) / static_cast<double>(sampleCount);
}

} // namespace pv
