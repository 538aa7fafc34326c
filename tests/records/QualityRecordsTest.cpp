#include "core/records/LoadTestResult.h"
#include "core/records/Profile.h"
#include "core/records/Quality.h"

#include <gtest/gtest.h>

#include <QJsonDocument>

#include <limits>

using namespace pv;

namespace {
QualityMetricSummary metric(const char* id)
{
    QualityMetricSummary m;
    m.id = QString::fromLatin1(id);
    m.title = QString::fromLatin1(id).toUpper();
    m.successRatio = 0.995;
    m.averageLatency = 12.25;
    m.maximumLatency = 80;
    m.failureCount = 1;
    m.totalCount = 200;
    m.spikeCount = 2;
    return m;
}

QualityBaseline makeBaseline()
{
    QualityBaseline b;
    b.savedAt = 1700000600.5;
    b.sourceStart = 1700000000;
    b.sourceEnd = 1700000600;
    b.nodeFingerprint.bssid = QStringLiteral("aa:bb:cc:dd:ee:ff");
    b.absoluteScore = 9.7;
    QualityAssessment& a = b.assessment;
    a.availability = QualityAvailability::ready;
    a.window = QualityWindow::tenMinutes;
    a.score = 10;
    a.absoluteScore = 9.7;
    a.percentage = 100;
    a.verdict = QualityVerdict::excellent;
    a.title = QStringLiteral("Kiváló");
    a.summary = QStringLiteral("Kiváló. Nincs gyenge pont.");
    a.useCaseHint = useCaseHint(QualityVerdict::excellent);
    a.comparisonSummary = QStringLiteral("100% az eddigi legjobb 10 perchez képest.");
    a.weaknessSummary = QStringLiteral("—");
    a.sessionStartedAt = 1699999000;
    a.windowStartedAt = 1700000000;
    a.windowEndedAt = 1700000600;
    a.elapsedSeconds = 1600;
    a.gateway = metric("gateway");
    a.publicIP = metric("public");
    a.dns = metric("dns");
    a.http = metric("http");
    a.wifi = metric("wifi");
    a.wifi.averageRSSI = -58.5;
    a.wifi.averageSNR = 34;
    a.wifi.averageTxRateMbps = 780;
    a.wifi.weakSampleCount = 3;
    a.incidentCount = 0;
    a.dropoutCount = 0;
    return b;
}
} // namespace

TEST(QualityRecords, WindowsAndVerdicts)
{
    EXPECT_EQ(duration(QualityWindow::twentyFourHours), 86400);
    EXPECT_EQ(title(QualityWindow::twentyFourHours), QStringLiteral("24h"));
    EXPECT_EQ(duration(QualityWindow::oneMinute), 60);
    EXPECT_EQ(allQualityWindows().size(), 9u);
    EXPECT_EQ(title(QualityVerdict::unstable), QStringLiteral("Instabil"));
    EXPECT_EQ(waitingTitle(QualityWindow::oneHour), QStringLiteral("Az első óra gyűjtése"));
}

TEST(QualityRecords, SessionElapsedIsFlooredAtZero)
{
    MeasurementSession s{QUuid::createUuid(), 1000, std::nullopt, 0};
    EXPECT_EQ(s.elapsed(900), 0);
    EXPECT_EQ(s.elapsed(1090), 90);
    EXPECT_EQ(MeasurementSession::fromJson(s.toJson()), s);
    s.nodeFingerprint = NodeFingerprint{QStringLiteral("n"), {}, {}, {}};
    EXPECT_EQ(MeasurementSession::fromJson(s.toJson()), s);
}

TEST(QualityRecords, BaselineRoundTripWithOnlyBssid)
{
    const QualityBaseline b = makeBaseline();
    const QByteArray text = b.encode();
    EXPECT_FALSE(text.contains('\n'));
    EXPECT_EQ(QualityBaseline::decode(text), b);

    const QJsonObject o = QJsonDocument::fromJson(text).object();
    const QJsonObject fp = o.value(QStringLiteral("nodeFingerprint")).toObject();
    EXPECT_EQ(fp.keys(), QStringList{QStringLiteral("bssid")});
    EXPECT_TRUE(o.value(QStringLiteral("savedAt")).isDouble());
    EXPECT_EQ(o.value(QStringLiteral("assessment")).toObject().value(QStringLiteral("window")).toString(),
              QStringLiteral("tenMinutes"));
    // Integers are written as JSON integers.
    EXPECT_TRUE(text.contains("\"percentage\":100"));
    EXPECT_TRUE(text.contains("\"totalCount\":200"));
}

TEST(QualityRecords, EmptyFingerprintIsTheEmptyObject)
{
    QualityBaseline b = makeBaseline();
    b.nodeFingerprint = {};
    EXPECT_TRUE(b.encode().contains("\"nodeFingerprint\":{}"));
    EXPECT_EQ(QualityBaseline::decode(b.encode()), b);
}

TEST(QualityRecords, BaselineDecodingIsAllOrNothing)
{
    const QJsonObject good = makeBaseline().toJson();
    // ISO-8601 dates are not accepted.
    QJsonObject iso = good;
    iso.insert(QStringLiteral("savedAt"), QStringLiteral("2023-11-14T22:13:20Z"));
    EXPECT_THROW(QualityBaseline::fromJson(iso), json::DecodeError);
    // An unknown window raw value.
    QJsonObject badWindow = good;
    QJsonObject a = badWindow.value(QStringLiteral("assessment")).toObject();
    a.insert(QStringLiteral("window"), QStringLiteral("fiveMinutes"));
    badWindow.insert(QStringLiteral("assessment"), a);
    EXPECT_THROW(QualityBaseline::fromJson(badWindow), json::DecodeError);
    // A missing nested key.
    QJsonObject missing = good;
    QJsonObject a2 = missing.value(QStringLiteral("assessment")).toObject();
    QJsonObject gw = a2.value(QStringLiteral("gateway")).toObject();
    gw.remove(QStringLiteral("spikeCount"));
    a2.insert(QStringLiteral("gateway"), gw);
    missing.insert(QStringLiteral("assessment"), a2);
    EXPECT_THROW(QualityBaseline::fromJson(missing), json::DecodeError);
    // A fraction where a whole number belongs.
    QJsonObject frac = good;
    QJsonObject a3 = frac.value(QStringLiteral("assessment")).toObject();
    a3.insert(QStringLiteral("percentage"), 99.5);
    frac.insert(QStringLiteral("assessment"), a3);
    EXPECT_THROW(QualityBaseline::fromJson(frac), json::DecodeError);
    // Garbage text.
    EXPECT_THROW(QualityBaseline::decode("not json"), json::DecodeError);
    EXPECT_THROW(QualityBaseline::decode(""), json::DecodeError);
}

TEST(QualityRecords, NonFiniteBaselineFailsBeforeWriting)
{
    QualityBaseline b = makeBaseline();
    b.assessment.wifi.averageSNR = std::numeric_limits<double>::infinity();
    EXPECT_THROW(b.encode(), json::EncodeError);
}

TEST(QualityRecords, AssessmentsDifferingInOneCountAreUnequal)
{
    const QualityBaseline b = makeBaseline();
    QualityAssessment other = b.assessment;
    other.dns.weakSampleCount += 1;
    EXPECT_NE(other, b.assessment);
}

TEST(MeasurementProfileTest, DefaultsAndExactDurations)
{
    const MeasurementProfile d = MeasurementProfile::defaultProfile();
    MeasurementProfile built;
    built.dnsProbeZone = std::nullopt;
    built.publicProbeHosts = {QStringLiteral("1.1.1.1"), QStringLiteral("8.8.8.8")};
    built.publicProbeHostsV6 = {QStringLiteral("2606:4700:4700::1111"), QStringLiteral("2001:4860:4860::8888")};
    built.echoesPerBatch = 3;
    built.echoTimeout = std::chrono::milliseconds(1500);
    built.echoSpacing = std::chrono::milliseconds(120);
    built.dnsEveryNthBatch = 4;
    EXPECT_EQ(d, built);
    built.echoSpacing = std::chrono::milliseconds(130);
    EXPECT_NE(d, built);
}

TEST(MeasurementProfileTest, MethodologyNote)
{
    MeasurementProfile p = MeasurementProfile::defaultProfile();
    EXPECT_TRUE(p.dnsMethodologyNote().endsWith(QStringLiteral("but the zone is not operated by Polvarine.")));
    EXPECT_TRUE(p.dnsMethodologyNote().contains(MeasurementProfile::fallbackDNSZone()));
    p.dnsProbeZone = QStringLiteral("probe.example.org");
    EXPECT_EQ(p.dnsMethodologyNote(),
              QStringLiteral("DNS was measured with single-use random names under probe.example.org, a zone configured "
                             "for this installation (POLVARINE_DNS_ZONE) with a wildcard record. No cache can serve "
                             "these names, so every sample is a full resolver round trip."));
}

TEST(LoadTestResultTest, IncreaseAndGrade)
{
    LoadTestResult r;
    EXPECT_FALSE(r.latencyIncreaseMilliseconds().has_value());
    EXPECT_EQ(r.grade(), BufferbloatGrade::excellent);
    r.idle.p50 = 20;
    r.underDownload.p95 = 10;
    r.underDownload.sampleCount = 80; // a loaded window of 8 s
    EXPECT_EQ(r.latencyIncreaseMilliseconds(), 0.0);
    EXPECT_EQ(r.grade(), BufferbloatGrade::excellent);
    r.underUpload.p95 = 50; // exactly 30 ms more
    r.underUpload.sampleCount = 80;
    EXPECT_EQ(r.latencyIncreaseMilliseconds(), 30.0);
    EXPECT_EQ(r.grade(), BufferbloatGrade::good);
    r.underDownload.p95 = 619.9; // 599.9 ms more: still poor
    EXPECT_EQ(r.grade(), BufferbloatGrade::poor);
    r.underDownload.p95 = 620.0;
    EXPECT_EQ(r.grade(), BufferbloatGrade::severe);
    r.download.bytesTransferred = 25'000'000;
    r.download.durationSeconds = 10;
    EXPECT_DOUBLE_EQ(r.downloadMbps(), 20.0);
    EXPECT_EQ(r.uploadMbps(), 0.0);
}
