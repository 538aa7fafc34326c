#include "reports/DossierModel.h"

#include <algorithm>
#include <cmath>

namespace pv {

std::optional<double> DossierDocument::outageShareOfMeasuredTime() const
{
    const double measured = request.duration() * coverageRatio;
    if (!(measured > 0))
        return std::nullopt;
    double outageTime = 0;
    for (const OutageRecord& outage : outages)
        outageTime += outage.duration();
    return outageTime / measured;
}

std::optional<QString> DossierDocument::detailedFiguresNote() const
{
    // Beyond a week the roll-ups read are hour buckets, up to it minute buckets.
    const QString kind = request.duration() > 604800 ? QStringLiteral("óránkénti") : QStringLiteral("percenkénti");
    if (onlyRollups)
        return QStringLiteral("Ebből az időszakból nyers mérés nem maradt: a számok %1 összesítésből készültek, a "
                              "válaszidők az időszeletek jellemző értékeiből.")
            .arg(kind);
    if (!detailedFiguresFrom)
        return std::nullopt;
    // Whole days when the stretch is a day or more, whole hours below that; never zero.
    const double stretch = std::max(0.0, request.end - *detailedFiguresFrom);
    const QString span = stretch >= 86400
                             ? QStringLiteral("%1 nap").arg(std::max<long long>(1, std::llround(stretch / 86400)))
                             : QStringLiteral("%1 óra").arg(std::max<long long>(1, std::llround(stretch / 3600)));
    const QString earlier = stretch >= 86400 ? QStringLiteral("napokból") : QStringLiteral("órákból");
    return QStringLiteral("A részletes számok az utolsó %1 nyers méréseiből készültek; a korábbi %2 %3 "
                          "összesítés maradt.")
        .arg(span, earlier, kind);
}

QString title(DossierPage page)
{
    switch (page) {
    case DossierPage::cover:
        return QStringLiteral("Mérési dosszié");
    case DossierPage::summary:
        return QStringLiteral("Összefoglaló");
    case DossierPage::scopeAndLimits:
        return QStringLiteral("Mit tartalmaz és mit nem tartalmaz ez a dokumentum");
    case DossierPage::coverage:
        return QStringLiteral("Mérési időszak és lefedettség");
    case DossierPage::outages:
        return QStringLiteral("Kimaradások");
    case DossierPage::timeline:
        return QStringLiteral("Válaszidő és veszteség az időszak alatt");
    case DossierPage::hourlyProfile:
        return QStringLiteral("Napszaki profil");
    case DossierPage::accessPoints:
        return QStringLiteral("Hozzáférési pontok");
    case DossierPage::wiredComparison:
        return QStringLiteral("Vezetékes kontra Wi-Fi");
    case DossierPage::gapLedger:
        return QStringLiteral("Hézagok — mikor nem mértünk");
    case DossierPage::methodology:
        return QStringLiteral("Módszertani függelék");
    case DossierPage::nextSteps:
        return QStringLiteral("Következő lépések");
    case DossierPage::rawData:
        return QStringLiteral("A nyers adat elérhetősége");
    }
    return {};
}

std::vector<DossierPage> allDossierPages()
{
    std::vector<DossierPage> out;
    for (int i = 0; i < kDossierPageCount; ++i)
        out.push_back(static_cast<DossierPage>(i));
    return out;
}

std::vector<DossierPage> DossierPaginator::pages(const DossierDocument& document)
{
    using P = DossierPage;
    std::vector<P> out{P::cover, P::summary, P::scopeAndLimits, P::coverage, P::outages};
    if (document.sampleCount >= 30)
        out.push_back(P::timeline);
    if (document.request.duration() >= 86400 && !document.hourlyProfile.empty())
        out.push_back(P::hourlyProfile);
    if (!document.accessPoints.empty())
        out.push_back(P::accessPoints);
    out.insert(out.end(), {P::wiredComparison, P::gapLedger, P::methodology, P::nextSteps, P::rawData});
    return out;
}

DossierError::DossierError(Kind kind, QUrl url, FailureCause cause) : kind_(kind), url_(std::move(url)), cause_(cause)
{
    what_ = errorDescription().toStdString();
}

QString DossierError::path() const
{
    return url_.isLocalFile() ? url_.toLocalFile() : url_.path(QUrl::FullyDecoded);
}

QString DossierError::errorDescription() const
{
    switch (kind_) {
    case Kind::destinationNotWritable:
        return QStringLiteral("A dokumentum nem írható ide: ") + path() +
               (cause_ == FailureCause::unknown ? QString() : QStringLiteral(". ") + failureSentence(cause_));
    case Kind::nothingToReport:
        return failureSentence(FailureCause::nothingMeasured);
    }
    return {};
}

} // namespace pv
