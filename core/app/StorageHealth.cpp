#include "core/app/StorageHealth.h"

namespace pv {

QString StorageHealth::payload() const
{
    if (const auto* fresh = std::get_if<StartedFresh>(&value_))
        return fresh->quarantinedPath;
    if (const auto* memory = std::get_if<NotPersisting>(&value_))
        return memory->reason;
    return {};
}

std::optional<QString> StorageHealth::bannerMessage() const
{
    if (const auto* fresh = std::get_if<StartedFresh>(&value_))
        return QStringLiteral("A korábbi mérési előzményt nem sikerült megnyitni, ezért a Polvarine újat kezdett. "
                              "A régi fájl megmaradt itt: ") +
               fresh->quarantinedPath + QStringLiteral(".");
    if (const auto* memory = std::get_if<NotPersisting>(&value_))
        return QStringLiteral("Polvarine cannot save to disk (") + memory->reason +
               QStringLiteral("). Monitoring is running, but nothing is being recorded — these measurements will be "
                              "lost when the app quits.");
    return std::nullopt;
}

} // namespace pv
