#pragma once
// One A4 page of the dossier: white paper, 48 pt margins, a header (except on the cover), the page's
// body and a footer pinned to the bottom. The bodies only read the document; every page is a pure
// function of its page, document, number and count. Painted in points on any painter whose device
// unit is one point (the PDF writer at 72 dpi, or an image of 595 × 842 pixels).

#include "reports/DossierModel.h"
#include "reports/DossierPainters.h"
#include "ui/design/Chart.h"

class QPainter;

namespace pv {

class DossierPageView {
public:
    static constexpr double padding = 48;
    static constexpr double headerGap = 18; // below the header's divider
    static constexpr double footerGap = 14; // above the footer

    DossierPageView(DossierPage page, const DossierDocument& document, int pageNumber, int pageCount);

    // Paints the whole page with its top-left corner at the painter's origin.
    void paint(QPainter& p) const;

    // The parts of the page, for the page itself and for tests.
    QString footerText() const;
    QString pageNumberText() const;
    // Height of the footer line and its top edge on the page.
    static double footerHeight();
    static double footerTop();
    // Where the body goes: below the header (from the top margin on the cover) and above the footer.
    QRectF contentRect() const;
    // The page's body as a stack with the page's spacing.
    dossier::Stack pageContent() const;
    // The stack spacing of a page's body.
    static double stackSpacing(DossierPage page);

    // The timeline's two charts, as the page paints them (the chart routine of the design system).
    PVChartSpec latencyChartSpec() const;
    PVChartSpec lossChartSpec() const;
    PVChartSpec hourlyChartSpec() const;
    static PVChartStyle chartStyle();

private:
    dossier::Stack coverPage() const;
    dossier::Stack summaryPage() const;
    dossier::Stack scopePage() const;
    dossier::Stack coveragePage() const;
    dossier::Stack outagesPage() const;
    dossier::Stack timelinePage() const;
    dossier::Stack hourlyProfilePage() const;
    dossier::Stack accessPointsPage() const;
    dossier::Stack wiredComparisonPage() const;
    dossier::Stack ipv6Page() const;
    dossier::Stack gapLedgerPage() const;
    dossier::Stack methodologyPage() const;
    dossier::Stack nextStepsPage() const;
    dossier::Stack rawDataPage() const;

    dossier::Block keyFigureTiles() const;
    dossier::Block capabilityRow(UsageCapability capability) const;
    static dossier::Block legendItem(const QColor& color, const QString& label);

    DossierPage page_;
    const DossierDocument& document_;
    int pageNumber_;
    int pageCount_;
};

} // namespace pv
