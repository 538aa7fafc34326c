#pragma once
// The dossier's fixed Hungarian prose: title and kind, the scope-and-limits page, the methodology
// appendix, the sentence for a period without outages, the gap explanation, the note on raw data and
// the next steps chosen by region. The pages print these texts unchanged. The few sentences that
// name the computer the measurements ran on are looked up through `L`, so the program's platform
// table gives them their Linux wording; every other text is used as written.

#include <QString>
#include <QStringList>

#include <optional>

namespace pv {

struct NextStepsText {
    QString title;
    QStringList paragraphs;
    bool operator==(const NextStepsText&) const = default;
};

struct ReportWording {
    // The Hungarian regulator's public broadband-measurement site, named in the next steps for "HU".
    static constexpr const char* regulatorMeasurementSite = "szelessav.net";

    static QString title();        // "Mérési dosszié"
    static QString documentKind(); // also the PDF's subject
    static QString scopeTitle();
    static QStringList scopeParagraphs(); // four
    static QString methodologyTitle();
    static QStringList methodologyParagraphs(); // six
    static QString noOutages();
    static QString gapExplanation();
    static QString rawDataAvailability();
    // The cover's "prepared by" tail after "Polvarine <version>": where the measurements were made.
    static QString preparedOnSubscriberMachine();
    // Terms the wording never uses (no claim of legal or official standing).
    static QStringList forbiddenTerms();

    // "HU" → the Hungarian set (three paragraphs); one of the other 26 EU member codes → the EU set;
    // anything else, or none → the default set. Exact, case-sensitive comparison.
    static NextStepsText nextSteps(const std::optional<QString>& regionCode);
    // The member codes that select the EU set (HU has its own; Greece is "GR").
    static QStringList europeanUnionRegionCodes();
};

} // namespace pv
