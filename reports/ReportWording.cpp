#include "reports/ReportWording.h"

#include "core/records/Localization.h"
#include "reports/DossierFormat.h"

namespace pv {

QString ReportWording::title() { return QStringLiteral("Mérési dosszié"); }
QString ReportWording::documentKind() { return QStringLiteral("független mérési feljegyzés"); }
QString ReportWording::scopeTitle() { return QStringLiteral("Mit tartalmaz és mit nem tartalmaz ez a dokumentum"); }
QString ReportWording::methodologyTitle() { return QStringLiteral("Módszertani függelék"); }

QStringList ReportWording::scopeParagraphs()
{
    return {
        L("Ez a dokumentum a Polvarine nevű alkalmazás által, az előfizető saját Mac számítógépén rögzített "
          "mérések feljegyzése. Nem hatóságilag ellenőrzött mérés, nem szakvélemény, és önmagában nem "
          "állapít meg szerződésszegést."),
        QStringLiteral("A mérés helye: a mérés az előfizető végberendezésén történt, nem a szolgáltató hálózati "
                       "végpontján. A mért értékek ezért tartalmazzák az otthoni hálózat (Wi-Fi, kábelezés, router) "
                       "hatását is. Ahol a dokumentum különbséget tud tenni ezek között, azt külön jelzi."),
        QStringLiteral("A mérés jellege: a mérés kis csomagokkal, folyamatosan, terhelés nélkül zajlott. Ez az "
                       "elérhetőség, a késleltetés és a csomagvesztés kimutatására alkalmas. Sávszélességet — letöltési "
                       "és feltöltési sebességet — ez a dokumentum nem mér és nem is állít."),
        QStringLiteral("Ha hivatalos eljárást indít: a szolgáltatóval szembeni jogorvoslathoz a legtöbb országban a "
                       "nemzeti szabályozó hatóság által elfogadott mérőeszközzel készült mérés szükséges. Ez a "
                       "dokumentum ahhoz ad kiindulópontot, hogy tudja, mikor és milyen körülmények között érdemes ilyen "
                       "mérést végezni. Lásd a „Következő lépések” fejezetet."),
    };
}

QStringList ReportWording::methodologyParagraphs()
{
    return {
        QStringLiteral("Mérési pontok. Az alkalmazás három szakaszt mér külön-külön: az útválasztót (az otthoni hálózat "
                       "első ugrása), egy nyilvános internetes címet az útválasztón túl, valamint a névfeloldást. A "
                       "három közötti különbség az, ami megengedi, hogy a lassulás helyét megnevezzük."),
        L("Mérési mód. Minden mérés a Mac saját hálózati kapcsolatán, natív rendszerhívásokkal történik: "
          "ICMP visszhangkérés adatgram-socketen, DNS-lekérdezés a rendszer feloldóján át, és egy "
          "HTTP-kérés. Külső segédprogram nem fut, és a mérés nem terheli a vonalat."),
        QStringLiteral("Ami sikertelen, az nem kap értéket. Ha egy mérés nem érkezik vissza, a feljegyzésbe nem a "
                       "várakozási idő felső korlátja kerül, hanem az, hogy nem érkezett válasz. Ez azért lényeges, mert "
                       "a timeout-plafon beírása a késleltetési átlagot mesterségesen felfelé húzná, és olyan lassulást "
                       "mutatna, ami nem történt meg."),
        QStringLiteral("Percentilisek. Ahol a dokumentum „jellemző” értéket ír, az a medián: a mérések fele ez alatt "
                       "volt. A „lassabb tized” a 95. percentilis. Az átlagot szándékosan kerüljük, mert egyetlen kiugró "
                       "érték elmozdítja."),
        QStringLiteral("Összesített szakaszok. A nyers méréseket a tároló a beállított megőrzési ideig tartja meg; "
                       "a régebbi időszakokat percenkénti, illetve óránkénti összesítésből mutatjuk. Ahol a "
                       "dokumentum összesítésből dolgozik, azt jelzi, és megnevezi, meddig ér vissza a nyers mérés."),
        L("Az óra forrása. Az időbélyegek a Mac rendszerórájából származnak. A mérések közötti "
          "időtartamokat monoton óra méri, amit az óraátállítás és az időszinkronizálás nem befolyásol."),
    };
}

QString ReportWording::noOutages()
{
    return QStringLiteral("A vizsgált időszakban nem rögzítettünk teljes kimaradást.");
}

QString ReportWording::gapExplanation()
{
    return L("A hézag olyan időszak, amikor az alkalmazás nem mért: a Mac aludt, ki volt kapcsolva, vagy a "
             "rögzítés szünetelt. A hézag nem hiba a szolgáltatónál, és nem is működő időszak — egyszerűen "
             "nincs róla adatunk. Ezért soroljuk fel őket külön.");
}

QString ReportWording::rawDataAvailability()
{
    return QStringLiteral("A dokumentum mögötti nyers mérések az előfizető gépén, egy helyi adatbázisban vannak. "
                          "Kérésre CSV formátumban kiadhatók, oszlopmagyarázattal együtt. Az alkalmazás semmilyen adatot nem küld "
                          "el, és nem tárol külső kiszolgálón.");
}

QString ReportWording::preparedOnSubscriberMachine() { return L(", az előfizető saját Mac gépén"); }

QStringList ReportWording::forbiddenTerms()
{
    return {
        QStringLiteral("legal proof"),
        QStringLiteral("admissible"),
        QStringLiteral("certified"),
        QStringLiteral("official measurement"),
        QStringLiteral("guaranteed"),
        QStringLiteral("sla violation proven"),
        QStringLiteral("expert opinion"),
        QStringLiteral("forensic"),
        QStringLiteral("hitelesített"),
        QStringLiteral("hivatalos mérés"),
        QStringLiteral("igazolja"),
        QStringLiteral("bizonyítja"),
        QStringLiteral("szakértői vélemény"),
        QStringLiteral("garantáltan"),
        QStringLiteral("bizonyíték"),
    };
}

QStringList ReportWording::europeanUnionRegionCodes()
{
    return {QStringLiteral("AT"), QStringLiteral("BE"), QStringLiteral("BG"), QStringLiteral("CY"), QStringLiteral("CZ"),
            QStringLiteral("DE"), QStringLiteral("DK"), QStringLiteral("EE"), QStringLiteral("ES"), QStringLiteral("FI"),
            QStringLiteral("FR"), QStringLiteral("GR"), QStringLiteral("HR"), QStringLiteral("IE"), QStringLiteral("IT"),
            QStringLiteral("LT"), QStringLiteral("LU"), QStringLiteral("LV"), QStringLiteral("MT"), QStringLiteral("NL"),
            QStringLiteral("PL"), QStringLiteral("PT"), QStringLiteral("RO"), QStringLiteral("SE"), QStringLiteral("SI"),
            QStringLiteral("SK")};
}

NextStepsText ReportWording::nextSteps(const std::optional<QString>& regionCode)
{
    const QString firstStep = QStringLiteral("Első lépés a szolgáltató felé: jelentse be a hibát, és hivatkozzon az "
                                             "ebben a dokumentumban szereplő konkrét időpontokra.");
    NextStepsText out{QStringLiteral("Következő lépések"), {}};
    if (regionCode == QStringLiteral("HU")) {
        out.paragraphs = {
            firstStep + QLatin1Char(' ') + DossierFormat::quotedWithArticle(QStringLiteral("indítsa újra a routert"), true) +
                QStringLiteral(" válasz ellen ez a leghatékonyabb eszköz, mert a "
                                       "feljegyzés megmutatja, hogy a hiba a routeren túl keletkezett."),
            QStringLiteral("Ha a szolgáltató nem orvosolja: az NMHH a ") + QLatin1String(regulatorMeasurementSite) +
                QStringLiteral(" oldalon online mérést kínál, és ingyenesen igényelhető mérődobozt is biztosít. A mérődoboz a "
                               "szolgáltatás végpontján, hetekig, automatikusan mér — pontosan az a fajta adat, amit ez az "
                               "alkalmazás nem tud előállítani."),
            QStringLiteral("Panasszal először a szolgáltatóhoz kell fordulni; ha az nem vezet eredményre, az NMHH-hoz."),
        };
    } else if (regionCode && europeanUnionRegionCodes().contains(*regionCode)) {
        out.paragraphs = {
            firstStep,
            QStringLiteral("Ha a szolgáltató nem orvosolja: az Európai Unióban a nyílt internetről szóló (EU) 2015/2120 "
                           "rendelet 4. cikk (4) bekezdése a nemzeti szabályozó hatóság által elfogadott mérőmechanizmusra "
                           "hivatkozik. Keresse fel országa szabályozó hatóságát, és kérdezzen rá az általa elfogadott "
                           "mérőeszközre."),
        };
    } else {
        out.paragraphs = {
            firstStep,
            QStringLiteral("Ha a szolgáltató nem orvosolja: keresse fel országa távközlési szabályozó hatóságát, és "
                           "kérdezzen rá az általa elfogadott mérőeszközre."),
        };
    }
    return out;
}

} // namespace pv
