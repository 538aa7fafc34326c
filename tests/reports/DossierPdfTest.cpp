// The dossier as a PDF file: document information, A4 pages, the texts of every page, the footer at
// the bottom, bodies that stay above the footer, failed writes that keep an earlier file, and the
// service that names the file and makes its folder.
#include "core/store/SQLiteStore.h"
#include "core/store/StoreDatabase.h"
#include "reports/DossierBuilder.h"
#include "reports/DossierFormat.h"
#include "reports/DossierPages.h"
#include "reports/DossierPdf.h"
#include "reports/DossierPageRules.h"
#include "reports/DossierPdfFile.h"
#include "reports/DossierService.h"
#include "tests/reports/DossierMonth.h"
#include "tests/reports/DossierSamples.h"
#include "tests/store/StoreTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>
#include <unistd.h>

using namespace pv;
using namespace pv::test;

namespace {

QString renderToFile(const DossierDocument& doc, const QString& name = QStringLiteral("d.pdf"),
                     DossierPDFRenderer::Progress progress = {})
{
    const QString path = makeTempDir() + QLatin1Char('/') + name;
    DossierPDFRenderer().render(doc, DossierPaginator::pages(doc), QUrl::fromLocalFile(path), progress);
    return path;
}

int pageNumberOf(const DossierDocument& doc, DossierPage page)
{
    const auto pages = DossierPaginator::pages(doc);
    const auto it = std::find(pages.begin(), pages.end(), page);
    return it == pages.end() ? 0 : static_cast<int>(it - pages.begin()) + 1;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

TEST(DossierPdfTest, DocumentInformationAndA4OnEveryPage)
{
    const DossierDocument doc = sampleDocument();
    std::vector<std::pair<int, int>> calls;
    const QString path = renderToFile(doc, "d.pdf", [&](int done, int count) { calls.emplace_back(done, count); });
    const QString info = pdfInfo(path, 13);
    const QString expected[] = {
        "Title:           Mérési dosszié — 2026. 03. 01. 00:30 — 2026. 03. 08. 00:30\n",
        "Subject:         független mérési feljegyzés\n",
        "Author:          Polvarine 1.0\n",
        "Creator:         Polvarine 1.0\n",
        "Pages:           13\n",
    };
    for (const QString& line : expected)
        EXPECT_TRUE(info.contains(line)) << line.toStdString() << "\n" << info.toStdString();
    const auto sizes = QRegularExpression("Page +\\d+ size: +595 x 842 pts").globalMatch(info);
    int count = 0;
    for (auto it = sizes; it.hasNext(); it.next())
        ++count;
    EXPECT_EQ(count, 13);
    ASSERT_EQ(calls.size(), 13u);
    EXPECT_EQ(calls.front(), std::make_pair(1, 13));
    EXPECT_EQ(calls.back(), std::make_pair(13, 13));
}

TEST(DossierPdfTest, EveryPageCarriesItsTexts)
{
    const DossierDocument doc = sampleDocument();
    const QString path = renderToFile(doc);
    const auto pages = DossierPaginator::pages(doc);
    ASSERT_EQ(pages.size(), 13u);
    struct Case {
        DossierPage page;
        QStringList texts;
        QStringList absent = {};
    } cases[] = {
        {DossierPage::cover,
         {"Mérési dosszié", "Független mérési feljegyzés", "2026. 03. 01. 00:30 — 2026. 03. 08. 00:30", "123456", "93%",
          "Polvarine 1.0, az előfizető saját", "Időzóna Europe/Budapest", "Ez a dokumentum a 3. oldalon részletezi, mit tartalmaz és mit nem. "
                                              "Kérjük, azzal együtt olvassa."},
         {"Anonimizált"}},
        {DossierPage::summary,
         {"Esténként a szolgáltatói szakaszon nő a késleltetés.", "Amit ehhez tudni kell", "Még nem tudjuk",
          "Mire volt elég a kapcsolat ebben az időszakban", "32 ms", "88 ms", "1.2%"}},
        {DossierPage::scopeAndLimits, {"Mit tartalmaz és mit nem tartalmaz ez a dokumentum", "„Következő lépések”"}},
        {DossierPage::coverage, {"Időszak kezdete", "7.0 nap", "Nem mért időszakok száma", "Összesített szakaszok"}},
        {DossierPage::outages, {"Kezdet Hossz Szakasz", "1 perc", "még tartott", "A szolgáltatód"}, {"További"}},
        {DossierPage::timeline,
         {"az előfizető útválasztója (első ugrás)", "az útválasztón túli szakasz", "A két vonal különbsége",
          "Csomagvesztés ugyanebben az időszakban"}},
        {DossierPage::hourlyProfile, {"00:00", "11:00", "12:00", "19:00", "22:00", "23:00", "—"}},
        {DossierPage::accessPoints, {"aa:bb:cc:dd:ee:00", "-56 dBm", "33%", "5 GHz"}},
        {DossierPage::wiredComparison,
         {"Mérési mód", "Ez érdemi hozzájárulás", "A rádiókapcsolat 10 ms különbséget okoz",
          "Csomagvesztés vezetéken is mérhető (0.4%), nem csak Wi-Fin (1.2%)."}},
        {DossierPage::gapLedger, {"Kezdet Vég Hossz", "6 perc"}, {"További"}},
        {DossierPage::methodology, {"Percentilisek."}},
        {DossierPage::nextSteps, {"1. Első lépés a szolgáltató felé", "2. Ha a szolgáltató nem orvosolja", "3. Panasszal"}},
        {DossierPage::rawData, {"Mérések száma az időszakban 123456", "A dokumentum készítője", "Polvarine 1.0"}},
    };
    for (const Case& c : cases) {
        const int number = pageNumberOf(doc, c.page);
        const QString text = pdfPageText(path, number);
        QStringList expected = c.texts;
        expected << QStringLiteral("Polvarine független mérési feljegyzés · készült 2026. 03. 08. 00:31")
                 << QStringLiteral("%1 / 13").arg(number);
        if (c.page != DossierPage::cover)
            expected << title(c.page) << QStringLiteral("Mérési dosszié");
        for (const QString& t : expected)
            EXPECT_TRUE(text.contains(t)) << "page " << number << " lacks \"" << t.toStdString() << "\":\n"
                                          << text.toStdString();
        for (const QString& t : c.absent)
            EXPECT_FALSE(text.contains(t)) << "page " << number << " shows \"" << t.toStdString() << "\"";
    }
}

// What the pages say of their figures: a sub-millisecond tile and hourly scale, the time before the
// first measurement, and incidents named for what they were with durations to the second.
TEST(DossierPdfTest, FiguresAreNamedForWhatTheyAre)
{
    DossierDocument doc = sampleDocument();
    doc.medianProviderMs = 0.4;
    doc.firstMeasurement = doc.request.start + 2 * 86400;
    for (HourlyProfileEntry& e : doc.hourlyProfile)
        e.medianMilliseconds = 0.3 + 0.01 * e.hour;
    const double t = doc.request.start + 3 * 86400;
    doc.outages = {{QUuid::createUuid(), t, t + 177, FaultLocation::provider, {}, IncidentNature::outage},
                   {QUuid::createUuid(), t + 600, t + 1500, FaultLocation::provider, {}, IncidentNature::slowness},
                   {QUuid::createUuid(), t + 2000, t + 2042, FaultLocation::dns, {}, IncidentNature::nameResolution}};
    doc.familyLegs = {{ProbeKind::gateway, 0.3, 0.4, 0.0, 0.0, 900, 900},
                      {ProbeKind::publicIP, 31.6, 48.2, 0.012, 0.254, 1800, 1800}};
    doc.ipv6Incidents = {{IncidentClassification::ipv6ProviderIssue, t, t + 177}, {IncidentClassification::ipv6SlowOrLossy, t + 900, t + 960},
                         {IncidentClassification::ipv4ProviderIssue, t + 3000, t + 3120}};
    const QString path = renderToFile(doc);
    const QString ipv6 = pdfPageText(path, pageNumberOf(doc, DossierPage::ipv6)).simplified();
    for (const char* shown : {"Router kevesebb mint 1 ms kevesebb mint 1 ms 0.0% 0.0%", "Nyilvános címek 32 ms 48 ms 1.2% 25.4%",
                              "2 perc 57 mp Az IPv6 a szolgáltatónál nem működik",
                              "A szolgáltatónak: „Az időszakban az IPv6 kapcsolat 2 alkalommal hibázott, összesen 3 perc 57 mp, "
                              "miközben az IPv4 működött; a nyilvános címek felé küldött pingek közül IPv6-on 25.4%, IPv4-en 1.2% veszett el. "
                              "Az IPv4 kapcsolat 1 alkalommal akadt el a routeren túl, összesen 2 perc, miközben az IPv6 működött.”",
                              "Az IPv4 a szolgáltatónál nem működik, az IPv6 igen"})
        EXPECT_TRUE(ipv6.contains(QString::fromUtf8(shown))) << shown << "\n" << ipv6.toStdString();
    const QString summary = pdfPageText(path, pageNumberOf(doc, DossierPage::summary)).simplified();
    EXPECT_TRUE(summary.contains(QStringLiteral("<1 ms"))) << summary.toStdString();
    EXPECT_FALSE(summary.contains(QStringLiteral(" 0 ms"))) << summary.toStdString();
    EXPECT_TRUE(summary.contains(QStringLiteral("1.2% 1 Polvarine"))) << "the tile counts the outage only";
    EXPECT_TRUE(summary.contains(QStringLiteral("Az időszakban 1 kimaradás volt, összesen 2 perc 57 mp")))
        << summary.toStdString();
    const QString incidents = pdfPageText(path, pageNumberOf(doc, DossierPage::outages)).simplified();
    for (const char* shown : {"2 perc 57 mp", "Egyéb zavarok — nem kimaradások", "15 perc Lassulás A szolgáltatód",
                              "42 mp Névfeloldási hiba A névfeloldás (DNS)"})
        EXPECT_TRUE(incidents.contains(QString::fromUtf8(shown))) << shown << "\n" << incidents.toStdString();
    const QString hourly = pdfPageText(path, pageNumberOf(doc, DossierPage::hourlyProfile));
    EXPECT_TRUE(hourly.contains(QStringLiteral("0.4"))) << hourly.toStdString();
    EXPECT_FALSE(hourly.contains(QStringLiteral("0,"))) << hourly.toStdString();
    const PVChartSpec axis = DossierPageView(DossierPage::hourlyProfile, doc, 7, 13).hourlyChartSpec();
    for (const double tick : niceTicks(axis.y.domain->first, axis.y.domain->second, axis.y.desiredTicks).values)
        EXPECT_FALSE(axis.y.formatter(tick).contains(u'.')) << axis.y.formatter(tick).toStdString(); // whole ms
    const QString coverage = pdfPageText(path, pageNumberOf(doc, DossierPage::coverage)).simplified();
    for (const char* t : {"Első mérés", "2026. 03. 03. 00:30", "Az időszak első 2.0 nap hosszú része a mérés kezdete előtti idő"})
        EXPECT_TRUE(coverage.contains(QString::fromUtf8(t))) << t << "\n" << coverage.toStdString();
    EXPECT_FALSE(coverage.contains(QStringLiteral("egyes csomagok"))) << coverage.toStdString();
}

TEST(DossierPdfTest, ContinuationLinesAndComparisonSentencesAtTheirThresholds)
{
    struct Case {
        DocumentShape shape;
        DossierPage page;
        QString shown;
        QString absent;
    } cases[] = {
        {{.outages = 24}, DossierPage::outages, "még tartott", "További"},
        {{.outages = 25}, DossierPage::outages, "További 1 kimaradás a nyers adatban szerepel.", ""},
        {{.gaps = 20}, DossierPage::gapLedger, "Kezdet Vég Hossz", "További"},
        {{.gaps = 21}, DossierPage::gapLedger, "További 1 hézag.", ""},
        {{.gaps = 0}, DossierPage::gapLedger,
         "Az időszakban nem volt olyan szakasz, ahol a mérés több mint öt percre megszakadt volna.", "Kezdet"},
        {{.outages = 0}, DossierPage::outages, "A vizsgált időszakban nem rögzítettünk teljes kimaradást.", "Kezdet"},
        {{.wifiSamples = 29, .wiredSamples = 500}, DossierPage::wiredComparison,
         "Az időszakban nem volt elegendő Wi-Fi mérés (29 minta).", "legalább 30 mérés kell"},
        {{.wifiSamples = 10, .wiredSamples = 10}, DossierPage::wiredComparison,
         "Az időszakban nem volt elegendő vezetékes mérés (10 minta). Az összehasonlításhoz mindkét módból legalább 30 "
         "mérés kell.",
         "Mérési mód"},
        {{.wifiSamples = 30, .wiredSamples = 30, .wifiMedian = 35}, DossierPage::wiredComparison, "Ez elhanyagolható.",
         "Ez érdemi"},
        {{.wiredLoss = 0.001}, DossierPage::wiredComparison, "Mérési mód", "Csomagvesztés vezetéken"},
        {{.region = std::nullopt}, DossierPage::nextSteps, "2. Ha a szolgáltató nem orvosolja: keresse fel", "Panasszal"},
        {{.loss = false}, DossierPage::timeline, "az útválasztón túli szakasz", "Csomagvesztés ugyanebben"},
        {{.timelineSlices = 0}, DossierPage::timeline, "Ebben az időszakban nincs megjeleníthető mérés.",
         "az előfizető útválasztója"},
    };
    for (const Case& c : cases) {
        const DossierDocument doc = sampleDocument(c.shape);
        const QString text = pdfPageText(renderToFile(doc), pageNumberOf(doc, c.page));
        EXPECT_TRUE(text.contains(c.shown)) << c.shown.toStdString() << "\n" << text.toStdString();
        if (!c.absent.isEmpty()) {
            EXPECT_FALSE(text.contains(c.absent)) << c.absent.toStdString() << "\n" << text.toStdString();
        }
    }
}

struct Word {
    double yMin, yMax;
    QString text;
};

std::vector<Word> pageWords(const QString& pdf, int page)
{
    QProcess p;
    p.start("pdftotext", {"-bbox", "-f", QString::number(page), "-l", QString::number(page), pdf, "-"});
    p.waitForFinished(60000);
    const QString html = QString::fromUtf8(p.readAllStandardOutput());
    static const QRegularExpression word(
        "<word xMin=\"[\\d.]+\" yMin=\"([\\d.]+)\" xMax=\"[\\d.]+\" yMax=\"([\\d.]+)\">([^<]*)</word>");
    std::vector<Word> words;
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        words.push_back({m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3)});
    }
    return words;
}

TEST(DossierPdfTest, FooterSitsAtTheBottomOfAShortPage)
{
    const DossierDocument doc = sampleDocument();
    const QString path = renderToFile(doc);
    const auto words = pageWords(path, pageNumberOf(doc, DossierPage::rawData));
    const auto made = std::find_if(words.begin(), words.end(), [](const Word& w) { return w.text == "készült"; });
    ASSERT_NE(made, words.end());
    const double bottom = 842 - DossierPageView::padding;
    EXPECT_GE(made->yMin, bottom - DossierPageView::footerHeight() - 0.5);
    EXPECT_LE(made->yMax, bottom + 0.5);
}

TEST(DossierPdfTest, FullPagesStayAboveTheFooter)
{
    // Every table at its cap, the longest texts (the anonymised cover's note included): nothing may
    // run into the footer line.
    DossierDocument doc = sampleDocument({.outages = 30, .gaps = 40, .hours = 24, .accessPoints = 20});
    doc.request.anonymiseNetworkNames = true;
    for (int i = 0; i < 12; ++i) // beside the outages, more other incidents than their table shows
        doc.outages.push_back({QUuid::createUuid(), doc.request.end - 600.0 * (i + 1), doc.request.end - 600.0 * i,
                               FaultLocation::provider, {}, IncidentNature::slowness});
    for (ProbeKind kind : {ProbeKind::gateway, ProbeKind::publicIP, ProbeKind::dns, ProbeKind::http})
        doc.familyLegs.push_back({kind, 0.4, 1234.5, 0.012, 1.0, 100000, 100000});
    for (int i = 0; i < 12; ++i) // the IPv6 page's incidents beyond its table
        doc.ipv6Incidents.push_back({IncidentClassification::ipv6NameOrPageIssue, doc.request.start + 9000.0 * i,
                                     doc.request.start + 9000.0 * i + 5400});
    const QString path = renderToFile(doc);
    // POLVARINE_DOSSIER_KEEP=<folder> keeps this fullest dossier for a look.
    if (const QString keep = qEnvironmentVariable("POLVARINE_DOSSIER_KEEP"); !keep.isEmpty())
        QFile::copy(path, keep + "/fullest-dossier.pdf");
    const double limit = DossierPageView::footerTop() - DossierPageView::footerGap + 1.0;
    const int count = static_cast<int>(DossierPaginator::pages(doc).size());
    for (int page = 1; page <= count; ++page) {
        double lowest = 0;
        QString lowestWord;
        for (const Word& w : pageWords(path, page))
            if (w.yMin < DossierPageView::footerTop() - 1 && w.yMax > lowest) {
                lowest = w.yMax;
                lowestWord = w.text;
            }
        EXPECT_LE(lowest, limit) << "page " << page << " runs into the footer at \"" << lowestWord.toStdString() << "\"";
    }
}

TEST(DossierPdfTest, TheAnonymisedVersionSaysSoOnItsCover)
{
    for (const bool anonymised : {false, true}) {
        DossierDocument doc = sampleDocument();
        doc.request.anonymiseNetworkNames = anonymised;
        const QString cover = pdfPageText(renderToFile(doc), 1);
        EXPECT_EQ(cover.contains("Anonimizált változat: a hálózat neve és a hozzáférési pontok címe nem szerepel benne."),
                  anonymised)
            << cover.toStdString();
    }
}

TEST(DossierPdfTest, EveryMeasuredHourIsListedInOneOrTwoColumns)
{
    // Hours in the table's reading order; the evening is never left out.
    const struct {
        int hours;
        std::size_t tables;
    } cases[] = {{8, 1}, {12, 1}, {13, 2}, {24, 2}};
    for (const auto& c : cases) {
        const DossierDocument doc = sampleDocument({.hours = c.hours});
        const QString text = pdfPageText(renderToFile(doc), pageNumberOf(doc, DossierPage::hourlyProfile));
        for (int h = 0; h < c.hours; ++h)
            EXPECT_TRUE(text.contains(dossier::hourText(h))) << c.hours << " hours lack " << h << ":\n" << text.toStdString();
        EXPECT_EQ(static_cast<std::size_t>(text.count("Jellemző válaszidő Veszteség Mérés")), c.tables) << c.hours;
    }
}

TEST(DossierPdfTest, NamesFromTheAirCannotTurnTheTextAround)
{
    DossierDocument doc = sampleDocument();
    // U+202E would show the rest of its line backwards; U+2066 and U+200F would reorder it quietly.
    doc.accessPoints[0].label = QString::fromUtf8("Otthon\u202E-lenni-jo\u2066\u200F");
    const QString text = pdfPageText(renderToFile(doc), pageNumberOf(doc, DossierPage::accessPoints));
    EXPECT_TRUE(text.contains("Otthon-lenni-jo")) << text.toStdString();
    for (const char16_t control : {u'\u202E', u'\u2066', u'\u200F'})
        EXPECT_FALSE(text.contains(QChar(control)));
}

TEST(DossierPdfTest, ASliceMeasuredAloneShowsOnBothCharts)
{
    // One 12-minute slice measured (every packet lost), none in the slices around it.
    DossierDocument doc = sampleDocument();
    for (DossierTimelinePoint& t : doc.timeline) {
        t.lossRatio.reset();
        t.providerMilliseconds.reset();
        t.routerMilliseconds.reset();
    }
    doc.timeline[60].lossRatio = 1.0;
    doc.timeline[60].providerMilliseconds = 48.0;
    const DossierPageView view(DossierPage::timeline, doc, 6, 13);
    const struct {
        const char* name;
        PVChartSpec spec;
        double value;
        QColor color;
    } cases[] = {{"loss", view.lossChartSpec(), 100.0, DossierPalette::red()},
                 {"latency", view.latencyChartSpec(), 48.0, DossierPalette::blue()}};
    for (const auto& c : cases) {
        QImage img(515, 130, QImage::Format_ARGB32);
        img.fill(Qt::white);
        {
            QPainter p(&img);
            paintChart(p, QRectF(img.rect()), c.spec, DossierPageView::chartStyle());
        }
        if (const QString keep = qEnvironmentVariable("POLVARINE_DOSSIER_KEEP"); !keep.isEmpty())
            img.save(keep + "/lone-slice-" + c.name + ".png");
        const PVChartLayout L = layoutChart(c.spec, QRectF(img.rect()), DossierPageView::chartStyle());
        const QPoint at = L.map({doc.timeline[60].time, c.value}).toPoint();
        int marked = 0;
        for (int y = at.y() - 3; y <= at.y() + 3; ++y)
            for (int x = at.x() - 4; x <= at.x() + 4; ++x) {
                const QColor px = img.rect().contains(x, y) ? img.pixelColor(x, y) : QColor(Qt::white);
                marked += std::abs(px.red() - c.color.red()) + std::abs(px.green() - c.color.green()) +
                                      std::abs(px.blue() - c.color.blue()) < 60
                              ? 1
                              : 0;
            }
        EXPECT_GE(marked, 4) << c.name << ": the lone slice left no mark at " << at.x() << "," << at.y();
    }
}

// The month's cuts through the store's own retention pass under each policy, run 13 hours before a 30-day
// and a 7-day dossier: each is an outage whether its day is kept raw or only rolled up (the slowdown is
// named alike), the summary, the outage page and the raw-data facts give the journal's count and total,
// and the note on the rolled-up part names the retention in force.
TEST(DossierPdfTest, EveryPageGivesTheJournalsOutagesUnderEveryRetention)
{
    const Timestamp end = budapestOctober(30, 19, 0) + 30;
    const DossierMonth month = writeDossierMonth(false, end, end);
    for (const auto& [name, retention, rolledUpCuts, kept] :
         {std::tuple{"standard", RetentionPolicy::standard(), 2, "7 nap"}, std::tuple{"compact", RetentionPolicy::compact(), 3, "2 nap"},
          std::tuple{"long", RetentionPolicy::longTerm(), 0, "30 nap"}}) {
        const QString path = freshDatabasePath(QString::fromLatin1(name));
        RawDb(month.path).exec(QStringLiteral("VACUUM INTO '%1';").arg(path));
        store::StoreDatabase db(StoreLocation::file(path));
        db.rollUpAndPrune(retention, end - 13 * 3600);
        RawDb raw(path);
        const Timestamp rawFrom = raw.real(QStringLiteral("SELECT MIN(timestamp) FROM network_samples;")).value();
        EXPECT_EQ(std::count_if(month.cuts.begin(), month.cuts.end(), [&](const auto& c) { return c.end < rawFrom; }),
                  rolledUpCuts) << name;
        for (const double days : {30.0, 7.0}) {
            SCOPED_TRACE(std::string(name) + ", " + std::to_string(int(days)) + " days");
            const DossierDocument doc = DossierBuilder::makeDocument(
                {end - days * 86400, end, false, QStringLiteral("HU"), retention.rawSampleSeconds}, end, db, QStringLiteral("1.0"));
            const QStringList journal = raw.column(
                QStringLiteral("SELECT id || ' ' || start_timestamp || ' ' || (end_timestamp - start_timestamp) FROM "
                               "incidents WHERE outage = 1 AND end_timestamp >= %1 ORDER BY start_timestamp;")
                    .arg(end - days * 86400, 0, 'f', 3));
            ASSERT_EQ(journal.size(), days > 7 ? 5 : 3);
            const std::vector<OutageRecord> cuts = doc.trueOutages();
            ASSERT_EQ(cuts.size(), static_cast<std::size_t>(journal.size()));
            const QString pdf = renderToFile(doc, QStringLiteral("%1-%2.pdf").arg(QLatin1String(name)).arg(days));
            const QString outagePage = pdfPageText(pdf, pageNumberOf(doc, DossierPage::outages));
            double total = 0;
            for (std::size_t i = 0; i < cuts.size(); ++i) {
                const QStringList cut = journal[qsizetype(i)].split(u' ');
                EXPECT_EQ(cuts[i].id, QUuid::fromString(cut[0])) << i;
                EXPECT_EQ(title(cuts[i].nature), QStringLiteral("Kimaradás")) << i;
                EXPECT_TRUE(outagePage.contains(DossierFormat::dateText(cut[1].toDouble()))) << i;
                total += cut[2].toDouble();
            }
            for (const OutageRecord& other : doc.otherIncidents()) // the slowdown, in the month only
                EXPECT_EQ(title(other.nature), QStringLiteral("Lassulás"));
            EXPECT_EQ(doc.otherIncidents().size(), days > 7 ? 1u : 0u);
            const QString summary = pdfPageText(pdf, pageNumberOf(doc, DossierPage::summary)).simplified();
            EXPECT_TRUE(summary.contains(QStringLiteral("Az időszakban %1 kimaradás volt, összesen %2")
                                             .arg(journal.size()).arg(DossierFormat::durationText(total))))
                << summary.toStdString();
            EXPECT_FALSE(summary.contains(QStringLiteral("A kapcsolat rendben van."))) << summary.toStdString();
            const QString note = doc.aggregatedPeriodsNote().value_or(QString());
            EXPECT_TRUE(note.isEmpty() || note.contains(QStringLiteral("régebbi, mint az utolsó %1,").arg(kept)))
                << note.toStdString();
            EXPECT_TRUE(pdfPageText(pdf, pageNumberOf(doc, DossierPage::rawData))
                            .contains(QStringLiteral("Rögzített kimaradás %1 ").arg(journal.size())));
        }
    }
}

// Runs the rest of a scope with the effective ids of an unprivileged user when the tests run as
// root, who may write into any folder.
struct Unprivileged {
    bool dropped = false;
    Unprivileged()
    {
        if (geteuid() == 0)
            dropped = setegid(65534) == 0 && seteuid(65534) == 0;
    }
    ~Unprivileged()
    {
        if (dropped) {
            [[maybe_unused]] const int a = seteuid(0);
            [[maybe_unused]] const int b = setegid(0);
        }
    }
};

TEST(DossierPdfTest, FailedWritesKeepTheEarlierFile)
{
    const QByteArray earlier = "%PDF-1.4 an earlier dossier of the same days";
    enum class Failure { unwritableFolder, paintingFails, noPages };
    for (Failure failure : {Failure::unwritableFolder, Failure::paintingFails, Failure::noPages}) {
        const QString root = makeTempDir();
        QFile::setPermissions(root, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        const QString folder = root + "/Desktop";
        QDir().mkpath(folder);
        const QString target = folder + "/Polvarine-meresi-dosszie-20260301-20260308.pdf";
        if (failure != Failure::noPages) {
            QFile f(target);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(earlier);
        }
        const DossierDocument doc = sampleDocument();
        switch (failure) {
        case Failure::unwritableFolder: {
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
            Unprivileged user;
            try {
                DossierPDFRenderer().render(doc, DossierPaginator::pages(doc), QUrl::fromLocalFile(target));
                ADD_FAILURE() << "an unwritable folder was written";
            } catch (const DossierError& e) {
                EXPECT_EQ(e.kind(), DossierError::Kind::destinationNotWritable);
                EXPECT_EQ(e.cause(), FailureCause::noPermission);
                EXPECT_EQ(e.errorDescription(), "A dokumentum nem írható ide: " + target +
                                                    ". Nincs engedély a fájl vagy a mappa eléréséhez.");
            }
            break;
        }
        case Failure::paintingFails:
            EXPECT_THROW(dossier::writePdf(target, 5,
                                           [](QPainter&, int page) {
                                               if (page == 2)
                                                   throw std::runtime_error("painting failed");
                                           },
                                           {}),
                         std::runtime_error);
            break;
        case Failure::noPages:
            try {
                DossierPDFRenderer().render(doc, {}, QUrl::fromLocalFile(target));
                ADD_FAILURE() << "an empty page list was rendered";
            } catch (const DossierError& e) {
                EXPECT_EQ(e.kind(), DossierError::Kind::nothingToReport);
            }
            break;
        }
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        const QStringList left = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        if (failure == Failure::noPages) {
            EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
        } else {
            EXPECT_EQ(readAll(target), earlier);
            EXPECT_EQ(left, QStringList{QFileInfo(target).fileName()}) << "a temporary file was left behind";
        }
    }
}

template <typename T> T awaitOnGui(rt::awaitable<T> op)
{
    bool done = false;
    std::exception_ptr error;
    std::optional<T> value;
    asio::co_spawn(rt::QtExecutor(), std::move(op), [&](std::exception_ptr e, T v) {
        error = e;
        if (!e)
            value.emplace(std::move(v));
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done; }, std::chrono::seconds(60)));
    if (error)
        std::rethrow_exception(error);
    return std::move(*value);
}

void awaitOnGui(rt::awaitable<void> op)
{
    bool done = false;
    std::exception_ptr error;
    asio::co_spawn(rt::QtExecutor(), std::move(op), [&](std::exception_ptr e) {
        error = e;
        done = true;
    });
    EXPECT_TRUE(pumpUntil([&] { return done; }, std::chrono::seconds(60)));
    if (error)
        std::rethrow_exception(error);
}

// A store with one probe batch ten minutes into the test week.
std::shared_ptr<SQLiteStore> storeWithABatch()
{
    auto store = std::make_shared<SQLiteStore>(SQLiteStore::Location::inMemory());
    awaitOnGui(store->insertSamples(makeBatch(kWeekStart + 600)));
    return store;
}

TEST(DossierServiceTest, MakesTheFolderAndNamesTheFileAfterThePeriod)
{
    PdfDossierService service(storeWithABatch(), "1.0", [] { return kWeekStart + 7200; });
    const QString folder = makeTempDir() + "/no/such/Asztal";
    const DossierRequest sameDay{kWeekStart, kWeekStart + 3600, false, std::nullopt};
    const QUrl url = awaitOnGui(service.create(sameDay, QUrl::fromLocalFile(folder)));
    EXPECT_EQ(url.toLocalFile(), folder + "/Polvarine-meresi-dosszie-20260301-20260301.pdf");
    const QString info = pdfInfo(url.toLocalFile());
    EXPECT_TRUE(info.contains("Pages:           10\n")) << info.toStdString();
    EXPECT_TRUE(info.contains("Author:          Polvarine 1.0\n"));
    // The same pair of days again: the same path, replaced.
    EXPECT_EQ(awaitOnGui(service.create(sameDay, QUrl::fromLocalFile(folder))), url);
    // The anonymised version of the same days sits next to it and replaces nothing.
    DossierRequest anonymised = sameDay;
    anonymised.anonymiseNetworkNames = true;
    EXPECT_EQ(awaitOnGui(service.create(anonymised, QUrl::fromLocalFile(folder))).toLocalFile(),
              folder + "/Polvarine-meresi-dosszie-20260301-20260301-anonim.pdf");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files).size(), 2);
}

TEST(DossierServiceTest, APeriodWithoutMeasurementsMakesNoFile)
{
    PdfDossierService service(storeWithABatch(), "1.0", [] { return kWeekStart + 30 * 86400; });
    const QString folder = makeTempDir() + "/Asztal";
    // The day after the only batch.
    const DossierRequest empty{kWeekStart + 86400, kWeekStart + 2 * 86400, false, std::nullopt};
    try {
        awaitOnGui(service.create(empty, QUrl::fromLocalFile(folder)));
        ADD_FAILURE() << "a dossier of an empty period was made";
    } catch (const DossierError& e) {
        EXPECT_EQ(e.kind(), DossierError::Kind::nothingToReport);
    }
    EXPECT_FALSE(QFileInfo::exists(folder));
}

TEST(DossierServiceTest, AFolderThatCannotBeMadeIsAFileSystemError)
{
    PdfDossierService service(storeWithABatch(), "1.0");
    const QString blocker = makeTempDir() + "/a-file";
    QFile f(blocker);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.close();
    const DossierRequest request{kWeekStart, kWeekStart + 3600, false, std::nullopt};
    EXPECT_THROW(awaitOnGui(service.create(request, QUrl::fromLocalFile(blocker + "/Desktop"))),
                 std::filesystem::filesystem_error);
}

} // namespace
