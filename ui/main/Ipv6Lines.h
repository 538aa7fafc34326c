#pragma once
// The IPv6 path's lines in the overview (directly under the fault chain) and in the menu-bar panel.
// Pure: the widgets show what these return.

#include "core/analysis/Ipv6Path.h"
#include "core/records/Status.h"

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace pv::ipv6_lines {

struct Line {
    QString text;
    PVStatus level = PVStatus::neutral;
    QStringList advice; // a broken path's advice, in order
    bool operator==(const Line&) const = default;
};

// The overview's line: the path's state with its latency; none while the main analysis speaks of a
// fault that IPv6 shares, or before anything was measured over IPv6.
std::optional<Line> overviewLine(const Ipv6PathJudgement& j);
// The panel names a broken IPv6 path only, and IPv6 working while IPv4 is broken.
std::optional<QString> panelLine(const Ipv6PathJudgement& j);

// The IPv6 samples of the batches (for the route chart's IPv6 provider line); none on a network
// whose analysis runs on IPv6 already.
std::vector<ProbeBatch> ipv6Batches(const std::vector<ProbeBatch>& batches, AddressFamily analysed);

} // namespace pv::ipv6_lines
