#include "tests/reports/DossierSamples.h"

#include <QProcess>
#include <QRegularExpression>
#include <QUuid>

namespace pv::test {

DossierDocument sampleDocument(const DocumentShape& s)
{
    DossierDocument d;
    d.request = {kWeekStart, kWeekStart + kWeek, false, s.region};
    d.generatedAt = kWeekStart + kWeek + 60;
    d.appVersion = QStringLiteral("1.0");
    d.verdict.setRating(UsageCapability::videoCall, CapabilityRating::usable);
    d.verdict.setRating(UsageCapability::streaming, CapabilityRating::comfortable);
    d.verdict.setRating(UsageCapability::browsing, CapabilityRating::comfortable);
    d.attribution.headline = QStringLiteral("Esténként a szolgáltatói szakaszon nő a késleltetés.");
    d.attribution.evidence = {QStringLiteral("Az útválasztó végig 3 ms körül válaszolt."),
                              QStringLiteral("A szolgáltatón túli cím 19 és 23 óra között 80 ms fölé ment.")};
    d.attribution.caveats = {QStringLiteral("Vezetékes összevetés nélkül a Wi-Fi hatása csak becsülhető.")};
    d.sampleCount = 123456;
    d.coverageRatio = 0.934;
    d.containsAggregatedPeriods = true;
    const double slice = kWeek / 120;
    for (int i = 0; i < s.timelineSlices; ++i) {
        if (i >= 40 && i < 46)
            continue; // unmeasured slices
        DossierTimelinePoint p;
        p.time = kWeekStart + i * slice;
        p.routerMilliseconds = 3.0 + (i % 5);
        p.providerMilliseconds = 18.0 + (i % 17) * 4.0;
        p.lossRatio = s.loss && i % 9 == 0 ? 0.02 : 0.0;
        d.timeline.push_back(p);
    }
    for (int i = 0; i < s.outages; ++i) {
        const double start = kWeekStart + 3600.0 * (i + 1);
        const bool open = i == s.outages - 1;
        d.outages.push_back({QUuid::createUuid(), start, open ? std::nullopt : std::optional<double>(start + 90 + i),
                             FaultLocation::provider, QStringLiteral("kiesés")});
    }
    for (int i = 0; i < s.gaps; ++i) {
        const double start = kWeekStart + 7200.0 * (i + 1);
        d.gaps.push_back({QUuid::createUuid(), start, start + 400 + i});
    }
    for (int h = 0; h < s.hours; ++h)
        d.hourlyProfile.push_back({h, h == 5 ? std::nullopt : std::optional<double>(20.0 + h), 0.001 * h, 100 + h});
    for (int i = 0; i < s.accessPoints; ++i)
        d.accessPoints.push_back({QStringLiteral("aa:bb:cc:dd:ee:%1").arg(i, 2, 10, QLatin1Char('0')),
                                  i % 2 ? std::optional<QString>("5 GHz") : std::nullopt, 500 - i,
                                  i == 0 ? std::nullopt : std::optional<int>(-55 - i), 0.333});
    d.wiredComparison = {s.wifiSamples, s.wifiMedian, 0.012, s.wiredSamples, s.wiredMedian, s.wiredLoss};
    d.medianRouterMs = 4;
    d.medianProviderMs = 31.6;
    d.p95ProviderMs = 88.2;
    d.lossRatio = 0.0123;
    return d;
}

namespace {
QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}
} // namespace

QString pdfPageText(const QString& pdf, int page)
{
    QString text = run(QStringLiteral("pdftotext"),
                       {QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"), QString::number(page),
                        QStringLiteral("-enc"), QStringLiteral("UTF-8"), pdf, QStringLiteral("-")});
    static const QRegularExpression space(QStringLiteral("\\s+"));
    return text.replace(space, QStringLiteral(" ")).trimmed();
}

QString pdfInfo(const QString& pdf, int pages)
{
    QStringList args;
    if (pages > 0)
        args << QStringLiteral("-f") << QStringLiteral("1") << QStringLiteral("-l") << QString::number(pages);
    args << pdf;
    return run(QStringLiteral("pdfinfo"), args);
}

} // namespace pv::test
