#include "core/analysis/Advice.h"

#include "core/records/Localization.h"

#include <algorithm>

namespace pv {

namespace {
AdviceStep step(const char* id, const char* text) { return {QString::fromLatin1(id), L(text)}; }
} // namespace

AdviceSet AdviceEngine::advise(const FaultAttribution& attribution, const std::optional<RadioAssessment>& radio)
{
    switch (attribution.location) {
    case FaultLocation::none:
        if (attribution.isMeasurementArtefact)
            return {L("Nincs teendő"),
                    {step("healthy.ignore-ping",
                          "Ezt a lassú ping-értéket nyugodtan hagyd figyelmen kívül. A routeren átmenő forgalom mérése a mérvadó, és az rendben van.")},
                    L("A router újraindítása ezen nem fog változtatni, mert nincs mit megjavítani rajta.")};
        return {L("Nincs teendő"),
                {step("healthy.none",
                      "A mérések szerint a kapcsolat rendben van. Hagyd futni az appot — ha valami elromlik, rögzíteni fogja.")},
                std::nullopt};

    case FaultLocation::wifi: {
        std::vector<AdviceStep> steps{step("wifi.distance",
            "Menj közelebb a routerhez, vagy vidd arrébb a Macet a jelenlegi helyéről. A Wi-Fi jelet a fal, a fém és a víz nyeli el a legjobban.")};
        // Only the roam changes the set; how weak the radio is does not.
        if (radio && radio->roamed)
            steps.push_back(step("wifi.roam",
                "A mérés alatt hozzáférési pontot váltottál. Ha van erősítőd vagy mesh-csomópontod, próbáld ki, hogy közvetlenül a fő routerhez kapcsolódsz: a váltás pillanata sokszor önmagában megszakítja a hívást."));
        steps.push_back(step("wifi.band",
            "Ha a router 5 GHz-en is sugároz, kapcsolódj arra. Rövidebb távon lényegesen gyorsabb és sokkal kevésbé zsúfolt, mint a 2,4 GHz."));
        steps.push_back(step("wifi.channel",
            "Sűrűn lakott helyen a szomszédok hálózatai ugyanazon a csatornán vannak. A router beállításai között keresd a csatorna automatikus újraválasztását."));
        steps.push_back(step("wifi.verify",
            "Minden változtatás után hagyd futni a mérést tíz percig. Az app megmutatja, javult-e — így nem hited kérdése lesz, hanem adaté."));
        return {L("A Wi-Fi kapcsolaton múlik"), steps,
                L("A szolgáltató hívása ezen nem segít: a mérés szerint a hiba a Mac és a router közötti szakaszon keletkezik, ami a te oldalad.")};
    }

    case FaultLocation::router:
        return {L("A routeren vagy a helyi hálózaton múlik"),
                {step("router.devices",
                      "Nézd meg, mi terheli a hálózatot: egy futó mentés, letöltés vagy videófeltöltés egy másik eszközön ugyanezt a képet adja."),
                 step("router.restart",
                      "Indítsd újra a routert: húzd ki, várj harminc másodpercet, dugd vissza. Itt ennek van értelme, mert a mérés tényleg a routerre mutat."),
                 step("router.firmware",
                      "Ellenőrizd, van-e firmware-frissítés a routerhez. A régi firmware a leggyakoribb oka az idővel romló teljesítménynek."),
                 step("router.age",
                      "Ha a router több éves és a szolgáltatótól kaptad, kérj cserét. Ez ingyenes szokott lenni, és gyakran ez old meg mindent."),
                 step("router.verify", "Változtatás után hagyd futni a mérést tíz percig, és nézd meg, javult-e.")},
                std::nullopt};

    case FaultLocation::provider:
        return {L("A szolgáltatón múlik"),
                {step("provider.collect",
                      "Hagyd futni az appot legalább egy-két napig. Egy egyszeri mérésre a szolgáltató azt fogja mondani, hogy nálad a hiba; egy több napos, időbélyeges feljegyzésre nem tudja ezt mondani."),
                 step("provider.export",
                      "Készíts jelentést az Exportálás gombbal. Ez tartalmazza a pontos időpontokat, a mért értékeket és azt is, hogy a saját hálózatod ez alatt hibátlanul működött."),
                 step("provider.call",
                      "Hívd a szolgáltatót, és mondd meg konkrétan: mikor, mennyi ideig, milyen mértékben. A kérdésre, hogy „újraindította-e a routert”, tudsz mérésalapú választ adni."),
                 step("provider.escalate",
                      "Ha az első kör nem vezet eredményre, kérj hibajegyszámot, és jelezd, hogy dokumentált méréseid vannak. Ez a mondat általában más osztályra viszi a hívást.")},
                L("A router újraindítása és a Wi-Fi hangolása itt kidobott idő: a mérés szerint a saját hálózatod végig hibátlan volt, a hiba a szolgáltatói szakaszon keletkezett.")};

    case FaultLocation::dns:
        return {L("Cseréld a névfeloldót"),
                {step("dns.change",
                      "Állíts be másik DNS-kiszolgálót a Macen: Rendszerbeállítások → Hálózat → a kapcsolatod → Részletek → DNS. Írd be a 1.1.1.1 és a 8.8.8.8 címet."),
                 step("dns.compare",
                      "Hagyd futni tíz percig, és nézd meg, javult-e. Ez a leggyorsabban ellenőrizhető változtatás az egész listán."),
                 step("dns.router", "Ha javult, ugyanezt állítsd be a routeren is, hogy a többi eszközöd is ezt használja.")},
                L("A sávszélesség növelése ezen nem segít. Nem a vonal lassú, hanem a névfeloldás — a letöltési sebesség mérése ilyenkor jó eredményt fog adni, miközben az oldalak továbbra is lassan indulnak.")};

    case FaultLocation::localUnseparated:
        return {L("Előbb tegyük mérhetővé"),
                {step("local.location",
                      "Engedélyezd a helymeghatározást a Polvarine-nak (Rendszerbeállítások → Adatvédelem és biztonság → Helymeghatározás). A macOS enélkül nem adja ki a Wi-Fi jelerősséget, és emiatt nem tudjuk elkülöníteni a rádiókapcsolatot a routertől."),
                 step("local.ethernet",
                      "Ha van rá mód, köss rá egy kábellel a routerre öt percre. Ha a hiba eltűnik, a Wi-Fi volt; ha megmarad, a router.")},
                L("Ne hívd még a szolgáltatót: a mérés szerint a hiba a saját hálózatodon belül keletkezik.")};

    case FaultLocation::offline:
        return {L("Először a fizikai réteg"),
                {step("offline.wifi", "Nézd meg, hogy a Mac Wi-Fije be van-e kapcsolva, és a megfelelő hálózathoz kapcsolódik-e."),
                 step("offline.power", "Ellenőrizd, hogy a router és a modem tápellátása és jelzőfényei rendben vannak-e."),
                 step("offline.restart",
                      "Ha a fények rendben vannak, indítsd újra a routert: húzd ki, várj harminc másodpercet, dugd vissza."),
                 step("offline.record",
                      "Az app rögzíti a kiesés pontos kezdetét és hosszát. Ha ez ismétlődik, ez lesz a legerősebb bizonyíték a szolgáltatónál.")},
                std::nullopt};

    case FaultLocation::insufficientEvidence:
        return {L("Hagyd futni"),
                {step("collect.wait",
                      "Hagyd az appot futni legalább néhány percig. Amíg nincs elég mérés, minden tanács találgatás lenne.")},
                std::nullopt};
    }
    return {L("Hagyd futni"), {}, std::nullopt};
}

AdviceSet AdviceEngine::forWiredLink(AdviceSet set)
{
    const auto isRadioStep = [](const AdviceStep& s) {
        return s.id.startsWith(QLatin1String("wifi.")) || s.id == QLatin1String("offline.wifi") ||
               s.id == QLatin1String("local.location") || s.id == QLatin1String("local.ethernet");
    };
    const bool offline = std::any_of(set.steps.begin(), set.steps.end(),
                                     [](const AdviceStep& s) { return s.id == QLatin1String("offline.wifi"); });
    const bool local = std::any_of(set.steps.begin(), set.steps.end(),
                                   [](const AdviceStep& s) { return s.id.startsWith(QLatin1String("local.")); });
    std::erase_if(set.steps, isRadioStep);
    if (offline)
        set.steps.insert(set.steps.begin(),
                         step("offline.cable", "Nézd meg, hogy a hálózati kábel mindkét vége a helyén van-e, és "
                                               "világít-e a jelzőfény a gép és a router csatlakozójánál."));
    if (local)
        set.steps.insert(set.steps.begin(),
                         step("local.cable", "Próbálj ki egy másik hálózati kábelt vagy a router egy másik aljzatát. "
                                             "Ha a hiba így eltűnik, a kábel vagy az aljzat volt; ha megmarad, a "
                                             "router."));
    return set;
}

} // namespace pv
