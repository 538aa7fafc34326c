#include "ui/design/Tokens.h"

#include <algorithm>

namespace pv {

std::vector<PVStatus> sortedBySeverity(std::vector<PVStatus> statuses)
{
    std::stable_sort(statuses.begin(), statuses.end(), statusLess);
    return statuses;
}

} // namespace pv
