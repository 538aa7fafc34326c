// The thresholds table: the compiled-in resource, all-or-nothing decoding and hostile input.
#include "core/analysis/AttributionThresholds.h"

#include "core/records/Json.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>

#include <random>

using namespace pv;

namespace {
const char* const kKeys[] = {"version", "weakSignalDbm", "unusableSignalDbm", "lowSnrDb", "criticalSnrDb",
                             "localLinkLossRatio", "severeLocalLinkLossRatio", "upstreamLossRatio",
                             "severeUpstreamLossRatio", "gatewayLatencyCeilingMs", "gatewayLatencySevereMs",
                             "upstreamComfortableMs", "upstreamPoorMs", "dnsSlowMs", "dnsCriticalMs",
                             "minimumSamplesPerLeg", "minimumWindowSeconds"};
const char* const kIntegerKeys[] = {"version", "weakSignalDbm", "unusableSignalDbm", "lowSnrDb", "criticalSnrDb",
                                    "minimumSamplesPerLeg"};

// A table in which every value differs from the standard one, and severe limits sit below plain ones.
AttributionThresholds contradictory()
{
    AttributionThresholds t;
    t.version = 7;
    t.weakSignalDbm = -80;
    t.unusableSignalDbm = -60;
    t.lowSnrDb = 5;
    t.criticalSnrDb = 30;
    t.localLinkLossRatio = 0.5;
    t.severeLocalLinkLossRatio = 0.05;
    t.upstreamLossRatio = 0.3;
    t.severeUpstreamLossRatio = 0.02;
    t.gatewayLatencyCeilingMs = 250.5;
    t.gatewayLatencySevereMs = 12;
    t.upstreamComfortableMs = 900;
    t.upstreamPoorMs = 90;
    t.dnsSlowMs = 2000;
    t.dnsCriticalMs = 100;
    t.minimumSamplesPerLeg = 3;
    t.minimumWindowSeconds = 7.25;
    return t;
}

QByteArray withChange(const std::function<void(QJsonObject&)>& change)
{
    QJsonObject o = contradictory().toJson();
    change(o);
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// Decoding is all or nothing: a result other than the standard table carries every value of the
// document it came from.
void expectWholeOrStandard(const QByteArray& text)
{
    const AttributionThresholds t = AttributionThresholds::decodeOrStandard(text);
    if (t == AttributionThresholds::standard())
        return;
    const QJsonDocument doc = QJsonDocument::fromJson(text);
    ASSERT_TRUE(doc.isObject()) << text.constData();
    const QJsonObject o = doc.object();
    const QJsonObject decoded = t.toJson();
    for (const char* key : kKeys)
        EXPECT_EQ(o.value(QLatin1String(key)).toDouble(), decoded.value(QLatin1String(key)).toDouble())
            << key << " in " << text.constData();
}
} // namespace

TEST(ThresholdsResource, CompiledIntoTheLibrary)
{
    const AttributionThresholds bundled = AttributionThresholds::loadBundled();
    EXPECT_TRUE(QFile::exists(QString::fromLatin1(AttributionThresholds::resourcePath())));
    EXPECT_EQ(bundled, AttributionThresholds::standard()); // the shipped table holds the defaults
    EXPECT_EQ(AttributionThresholds::loadFile(QStringLiteral(":/polvarine-core/no-such-table.json")),
              AttributionThresholds::standard());
    EXPECT_EQ(AttributionThresholds::loadFile(QStringLiteral("/nonexistent/attribution-thresholds.json")),
              AttributionThresholds::standard());
}

TEST(ThresholdsDecoding, StandardValuesAndRoundTrip)
{
    const AttributionThresholds s = AttributionThresholds::standard();
    EXPECT_EQ(s.version, 1);
    EXPECT_EQ(s.weakSignalDbm, -67);
    EXPECT_EQ(s.unusableSignalDbm, -75);
    EXPECT_EQ(s.lowSnrDb, 20);
    EXPECT_EQ(s.criticalSnrDb, 12);
    EXPECT_EQ(s.localLinkLossRatio, 0.02);
    EXPECT_EQ(s.severeLocalLinkLossRatio, 0.10);
    EXPECT_EQ(s.upstreamLossRatio, 0.01);
    EXPECT_EQ(s.severeUpstreamLossRatio, 0.05);
    EXPECT_EQ(s.gatewayLatencyCeilingMs, 25);
    EXPECT_EQ(s.gatewayLatencySevereMs, 120);
    EXPECT_EQ(s.upstreamComfortableMs, 100);
    EXPECT_EQ(s.upstreamPoorMs, 300);
    EXPECT_EQ(s.dnsSlowMs, 200);
    EXPECT_EQ(s.dnsCriticalMs, 1000);
    EXPECT_EQ(s.minimumSamplesPerLeg, 12);
    EXPECT_EQ(s.minimumWindowSeconds, 45);

    EXPECT_EQ(AttributionThresholds::decodeOrStandard(s.encode()), s);
    EXPECT_EQ(s.toJson().size(), 17);
    // Contradictory values are used exactly as they stand.
    EXPECT_EQ(AttributionThresholds::decodeOrStandard(contradictory().encode()), contradictory());
}

TEST(ThresholdsDecoding, AnyFaultyKeyFallsBackAsAWhole)
{
    for (const char* key : kKeys) {
        SCOPED_TRACE(key);
        const QLatin1String k(key);
        EXPECT_EQ(AttributionThresholds::decodeOrStandard(withChange([&](QJsonObject& o) { o.remove(k); })),
                  AttributionThresholds::standard());
        EXPECT_EQ(AttributionThresholds::decodeOrStandard(withChange([&](QJsonObject& o) { o.insert(k, QJsonValue::Null); })),
                  AttributionThresholds::standard());
        EXPECT_EQ(AttributionThresholds::decodeOrStandard(withChange([&](QJsonObject& o) { o.insert(k, QStringLiteral("12")); })),
                  AttributionThresholds::standard());
        EXPECT_EQ(AttributionThresholds::decodeOrStandard(withChange([&](QJsonObject& o) { o.insert(k, true); })),
                  AttributionThresholds::standard());
        EXPECT_EQ(AttributionThresholds::decodeOrStandard(withChange([&](QJsonObject& o) { o.insert(k, QJsonArray{1}); })),
                  AttributionThresholds::standard());
    }
    for (const char* key : kIntegerKeys) {
        SCOPED_TRACE(key);
        EXPECT_EQ(AttributionThresholds::decodeOrStandard(
                      withChange([&](QJsonObject& o) { o.insert(QLatin1String(key), 12.5); })),
                  AttributionThresholds::standard());
    }
}

TEST(ThresholdsDecoding, ExtraKeysAndWholeNumbersForDoubles)
{
    const AttributionThresholds t = AttributionThresholds::decodeOrStandard(withChange([](QJsonObject& o) {
        o.insert(QStringLiteral("comment"), QStringLiteral("tuned for the lab"));
        o.insert(QStringLiteral("minimumWindowSeconds"), 45);
    }));
    AttributionThresholds expected = contradictory();
    expected.minimumWindowSeconds = 45.0;
    EXPECT_EQ(t, expected);

    // Integers written with a zero fraction or an exponent are still whole numbers.
    const QByteArray text = QByteArray(R"({"version":1.0,"weakSignalDbm":-6.7e1,"unusableSignalDbm":-75,"lowSnrDb":20,)"
                                       R"("criticalSnrDb":12,"localLinkLossRatio":0.02,"severeLocalLinkLossRatio":0.1,)"
                                       R"("upstreamLossRatio":0.01,"severeUpstreamLossRatio":0.05,"gatewayLatencyCeilingMs":25,)"
                                       R"("gatewayLatencySevereMs":120,"upstreamComfortableMs":100,"upstreamPoorMs":300,)"
                                       R"("dnsSlowMs":200,"dnsCriticalMs":1000,"minimumSamplesPerLeg":13,"minimumWindowSeconds":45})");
    AttributionThresholds thirteen = AttributionThresholds::standard();
    thirteen.minimumSamplesPerLeg = 13;
    EXPECT_EQ(AttributionThresholds::decodeOrStandard(text), thirteen);
}

TEST(ThresholdsDecoding, MalformedAndHostileTexts)
{
    const QByteArray valid = contradictory().encode();
    const QByteArray texts[] = {
        "",
        "null",
        "[]",
        "42",
        "\"attribution\"",
        "{",
        valid.left(valid.size() / 2),
        valid + "garbage",
        QByteArray(200000, '['),
        QByteArray("{\"version\":") + QByteArray(100000, '9') + "}",
        QByteArray(valid).replace("\"dnsSlowMs\":2000", "\"dnsSlowMs\":1e400"),
        QByteArray(valid).replace("\"version\":7", "\"version\":1e30"),
        QByteArray(valid).replace("\"version\":7", "\"version\":99999999999999999999999"),
        QByteArray(valid).replace(':', '\0'),
        QByteArray("{\"version\":1}\0{}", 16),
    };
    for (const QByteArray& text : texts) {
        EXPECT_EQ(AttributionThresholds::decodeOrStandard(text), AttributionThresholds::standard())
            << text.left(80).toPercentEncoding().constData();
    }
    // Hostile but valid: extreme values are taken as they are.
    AttributionThresholds extreme = contradictory();
    extreme.minimumSamplesPerLeg = std::numeric_limits<std::int64_t>::min();
    extreme.dnsSlowMs = -1.0e308;
    EXPECT_EQ(AttributionThresholds::decodeOrStandard(extreme.encode()), extreme);
}

TEST(ThresholdsFuzz, MutatedDocumentsNeverHalfApply)
{
    std::mt19937 rng(20240601);
    const QByteArray seeds[] = {AttributionThresholds::standard().encode(), contradictory().encode(),
                                QJsonDocument(contradictory().toJson()).toJson(QJsonDocument::Indented)};
    const QByteArray alphabet = "{}[]:,\"-+.eE0123456789 truefalsnl\\\x00\xff";
    int decodedOther = 0;
    for (int i = 0; i < 4000; ++i) {
        QByteArray text = seeds[rng() % 3];
        const int edits = 1 + static_cast<int>(rng() % 4);
        for (int e = 0; e < edits && !text.isEmpty(); ++e) {
            const auto pos = static_cast<qsizetype>(rng() % static_cast<unsigned>(text.size()));
            switch (rng() % 5) {
            case 0: text[pos] = alphabet[static_cast<qsizetype>(rng() % alphabet.size())]; break;
            case 1: text.remove(pos, 1 + static_cast<qsizetype>(rng() % 8)); break;
            case 2: text.insert(pos, alphabet[static_cast<qsizetype>(rng() % alphabet.size())]); break;
            case 3: text.truncate(pos); break;
            default: text[pos] = static_cast<char>(rng() & 0xff); break;
            }
        }
        expectWholeOrStandard(text);
        if (AttributionThresholds::decodeOrStandard(text) != AttributionThresholds::standard())
            ++decodedOther;
    }
    // Some mutations leave a valid table (a digit changed): those must decode completely.
    EXPECT_GT(decodedOther, 0);
}
