// The advice sets per fault location.
#include "AnalysisFixtures.h"

#include "core/analysis/Advice.h"

#include <gtest/gtest.h>

using namespace pv;
using namespace pv::test;

namespace {
FaultAttribution at(FaultLocation l, bool artefact = false)
{
    FaultAttribution a;
    a.location = l;
    a.isMeasurementArtefact = artefact;
    return a;
}

RadioAssessment radio(RadioAssessment::State state, bool roamed) { return {std::move(state), roamed}; }
} // namespace

TEST(AdviceEngine, HealthyWithAndWithoutArtefact)
{
    EXPECT_EQ(AdviceEngine::advise(at(FaultLocation::none, true), std::nullopt),
              (AdviceSet{QStringLiteral("Nincs teendő"),
                         {{QStringLiteral("healthy.ignore-ping"),
                           QStringLiteral("Ezt a lassú ping-értéket nyugodtan hagyd figyelmen kívül. A routeren átmenő forgalom "
                                          "mérése a mérvadó, és az rendben van.")}},
                         QStringLiteral("A router újraindítása ezen nem fog változtatni, mert nincs mit megjavítani rajta.")}));
    EXPECT_EQ(AdviceEngine::advise(at(FaultLocation::none), std::nullopt),
              (AdviceSet{QStringLiteral("Nincs teendő"),
                         {{QStringLiteral("healthy.none"),
                           QStringLiteral("A mérések szerint a kapcsolat rendben van. Hagyd futni az appot — ha valami elromlik, "
                                          "rögzíteni fogja.")}},
                         std::nullopt}));
}

TEST(AdviceEngine, WifiRoamStepOnlyWhenRoamed)
{
    const QStringList four{QStringLiteral("wifi.distance"), QStringLiteral("wifi.band"), QStringLiteral("wifi.channel"),
                           QStringLiteral("wifi.verify")};
    const QStringList five{QStringLiteral("wifi.distance"), QStringLiteral("wifi.roam"), QStringLiteral("wifi.band"),
                           QStringLiteral("wifi.channel"), QStringLiteral("wifi.verify")};
    const auto weak = RadioAssessment::State::weak(QStringLiteral("gyenge"));
    EXPECT_EQ(stepIds(AdviceEngine::advise(at(FaultLocation::wifi), std::nullopt)), four);
    EXPECT_EQ(stepIds(AdviceEngine::advise(at(FaultLocation::wifi), radio(weak, false))), four);
    EXPECT_EQ(stepIds(AdviceEngine::advise(at(FaultLocation::wifi), radio(weak, true))), five);
    // The radio's state alone changes nothing.
    EXPECT_EQ(AdviceEngine::advise(at(FaultLocation::wifi), radio(RadioAssessment::State::unusable(QStringLiteral("x")), false)),
              AdviceEngine::advise(at(FaultLocation::wifi), radio(RadioAssessment::State::healthy(), false)));

    const AdviceSet set = AdviceEngine::advise(at(FaultLocation::wifi), radio(weak, true));
    EXPECT_EQ(set.title, QStringLiteral("A Wi-Fi kapcsolaton múlik"));
    EXPECT_EQ(set.steps[1].text,
              QStringLiteral("A mérés alatt hozzáférési pontot váltottál. Ha van erősítőd vagy mesh-csomópontod, próbáld ki, "
                             "hogy közvetlenül a fő routerhez kapcsolódsz: a váltás pillanata sokszor önmagában megszakítja a hívást."));
    EXPECT_EQ(set.pointless, QStringLiteral("A szolgáltató hívása ezen nem segít: a mérés szerint a hiba a Mac és a router "
                                            "közötti szakaszon keletkezik, ami a te oldalad."));
}

TEST(AdviceEngine, EveryLocationHasItsSet)
{
    struct Row {
        FaultLocation location;
        const char* title;
        QStringList ids;
        bool pointless;
    };
    const Row rows[] = {
        {FaultLocation::router, "A routeren vagy a helyi hálózaton múlik",
         {"router.devices", "router.restart", "router.firmware", "router.age", "router.verify"}, false},
        {FaultLocation::provider, "A szolgáltatón múlik",
         {"provider.collect", "provider.export", "provider.call", "provider.escalate"}, true},
        {FaultLocation::dns, "Cseréld a névfeloldót", {"dns.change", "dns.compare", "dns.router"}, true},
        {FaultLocation::localUnseparated, "Előbb tegyük mérhetővé", {"local.location", "local.ethernet"}, true},
        {FaultLocation::offline, "Először a fizikai réteg",
         {"offline.wifi", "offline.power", "offline.restart", "offline.record"}, false},
        {FaultLocation::insufficientEvidence, "Hagyd futni", {"collect.wait"}, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.title);
        const AdviceSet set = AdviceEngine::advise(at(r.location), std::nullopt);
        EXPECT_EQ(set.title, QString::fromUtf8(r.title));
        EXPECT_EQ(stepIds(set), r.ids);
        EXPECT_EQ(set.pointless.has_value(), r.pointless);
    }
    for (FaultLocation l : allFaultLocations())
        for (bool artefact : {false, true})
            EXPECT_FALSE(AdviceEngine::advise(at(l, artefact), std::nullopt).isEmpty());

    EXPECT_EQ(AdviceEngine::advise(at(FaultLocation::dns), std::nullopt).steps[0].text,
              QStringLiteral("Állíts be másik DNS-kiszolgálót a Macen: Rendszerbeállítások → Hálózat → a kapcsolatod → "
                             "Részletek → DNS. Írd be a 1.1.1.1 és a 8.8.8.8 címet."));
    EXPECT_EQ(AdviceEngine::advise(at(FaultLocation::provider), std::nullopt).steps[2].text,
              QStringLiteral("Hívd a szolgáltatót, és mondd meg konkrétan: mikor, mennyi ideig, milyen mértékben. A kérdésre, "
                             "hogy „újraindította-e a routert”, tudsz mérésalapú választ adni."));
    // The step names the export button by its own title.
    EXPECT_TRUE(AdviceEngine::advise(at(FaultLocation::provider), std::nullopt)
                    .steps[1]
                    .text.startsWith(QStringLiteral("Készíts jelentést az Exportálás gombbal.")));
    EXPECT_EQ(AdviceEngine::advise(at(FaultLocation::localUnseparated), std::nullopt).pointless,
              QStringLiteral("Ne hívd még a szolgáltatót: a mérés szerint a hiba a saját hálózatodon belül keletkezik."));
}

TEST(AdviceEngine, OverACableTheRadioStepsAreLeftOutAndTheCableTakesTheirPlace)
{
    const struct {
        FaultLocation location;
        QStringList ids;
    } cases[] = {
        {FaultLocation::offline, {"offline.cable", "offline.power", "offline.restart", "offline.record"}},
        {FaultLocation::localUnseparated, {"local.cable"}},
        {FaultLocation::router, {"router.devices", "router.restart", "router.firmware", "router.age", "router.verify"}},
        {FaultLocation::provider, {"provider.collect", "provider.export", "provider.call", "provider.escalate"}},
        {FaultLocation::dns, {"dns.change", "dns.compare", "dns.router"}},
        {FaultLocation::none, {"healthy.none"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(rawValue(c.location).toStdString());
        const AdviceSet full = AdviceEngine::advise(at(c.location), std::nullopt);
        const AdviceSet wired = AdviceEngine::forWiredLink(full);
        QStringList ids;
        for (const AdviceStep& s : wired.steps) {
            ids << s.id;
            EXPECT_FALSE(s.text.contains(QStringLiteral("Wi-Fi"))) << s.text.toStdString();
        }
        EXPECT_EQ(ids, c.ids);
        EXPECT_EQ(wired.title, full.title);
        EXPECT_EQ(wired.pointless, full.pointless);
    }
}
