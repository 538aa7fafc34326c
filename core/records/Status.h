#pragma once
// The severity scale every view colours by. Kept free of any view code so the engines can return it.

#include "core/records/Enum.h"

namespace pv {

enum class PVStatus { good, watch, serious, critical, neutral };
inline constexpr EnumTable<PVStatus, 5> kPVStatusTable{{{
    {PVStatus::good, "good"}, {PVStatus::watch, "watch"}, {PVStatus::serious, "serious"},
    {PVStatus::critical, "critical"}, {PVStatus::neutral, "neutral"}}}};
inline QString rawValue(PVStatus s) { return kPVStatusTable.rawText(s); }
inline std::optional<PVStatus> parsePVStatus(const QString& s) { return kPVStatusTable.parse(s); }
inline auto allPVStatuses() { return kPVStatusTable.allCases(); }

} // namespace pv
