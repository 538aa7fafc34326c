#pragma once
// What the user should do next about the current fault, and what would not help.

#include "core/analysis/Attribution.h"

#include <QString>

#include <optional>
#include <vector>

namespace pv {

struct AdviceStep {
    QString id; // dotted, never localised; unique within its set
    QString text;
    bool operator==(const AdviceStep&) const = default;
};

struct AdviceSet {
    QString title;
    std::vector<AdviceStep> steps;
    std::optional<QString> pointless;
    bool operator==(const AdviceSet&) const = default;

    bool isEmpty() const { return steps.empty(); }
};

class AdviceEngine {
public:
    // Reads only the attribution's location and artefact flag and the radio's roamed flag.
    static AdviceSet advise(const FaultAttribution& attribution, const std::optional<RadioAssessment>& radio);
    // The same set for a machine measured over a cable: steps about the Wi-Fi radio are left out,
    // and where that leaves the offline or local set without a way forward, the cable takes their place.
    static AdviceSet forWiredLink(AdviceSet set);
};

} // namespace pv
