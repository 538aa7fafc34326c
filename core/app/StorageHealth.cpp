#include "core/app/StorageHealth.h"

#include "core/records/FailureText.h"
#include "core/records/Localization.h"

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
               displayPath(fresh->quarantinedPath) + QStringLiteral(".");
    if (const auto* memory = std::get_if<NotPersisting>(&value_))
        // The reason is technical (it goes to the log where the store is opened); the user reads its cause.
    {
        QString cause = failureSentence(failureCauseFromText(memory->reason));
        if (!memory->databasePath.isEmpty())
            cause += QLatin1Char(' ') + pathNote(memory->databasePath) + QLatin1Char('.');
        return LF("A Polvarine nem tud a lemezre menteni. %@ A mérés fut, de semmi sem kerül rögzítésre — ezek a "
                  "mérések elvesznek, amikor a program bezárul.",
                  {cause});
    }
    return std::nullopt;
}

} // namespace pv
