#include "app/PlatformTexts.h"

#include <QCoreApplication>

#include <cstring>

namespace pv {

namespace {
// The context `L` looks texts up in.
constexpr const char* kContext = "Polvarine";
} // namespace

const std::vector<PlatformText>& platformTexts()
{
    static const std::vector<PlatformText> table{
        {"A jelerősség nem olvasható. macOS 14-től ehhez helymeghatározási engedély kell.",
         "A jelerősség nem olvasható: a Wi-Fi-csatoló nem adja ki az adatait."},
        {"A helymeghatározás le van tiltva. A macOS emiatt nem adja ki a hálózat nevét és a hozzáférési pont "
         "azonosítóját.",
         "A rendszer nem adja ki a hálózat nevét és a hozzáférési pont azonosítóját."},
        {"A helymeghatározás engedélyezve van, így a hálózat neve és a hozzáférési pont azonosítója is mérhető.",
         "A hálózat nevét és a hozzáférési pont azonosítóját a rendszer engedély nélkül kiadja, ahol van Wi-Fi."},
        {"Menj közelebb a routerhez, vagy vidd arrébb a Macet a jelenlegi helyéről. A Wi-Fi jelet a fal, a fém és a "
         "víz nyeli el a legjobban.",
         "Menj közelebb a routerhez, vagy vidd arrébb a gépet a jelenlegi helyéről. A Wi-Fi jelet a fal, a fém és a "
         "víz nyeli el a legjobban."},
        {"A szolgáltató hívása ezen nem segít: a mérés szerint a hiba a Mac és a router közötti szakaszon keletkezik, "
         "ami a te oldalad.",
         "A szolgáltató hívása ezen nem segít: a mérés szerint a hiba a gép és a router közötti szakaszon "
         "keletkezik, ami a te oldalad."},
        {"Állíts be másik DNS-kiszolgálót a Macen: Rendszerbeállítások → Hálózat → a kapcsolatod → Részletek → DNS. "
         "Írd be a 1.1.1.1 és a 8.8.8.8 címet.",
         "Állíts be másik DNS-kiszolgálót a gépen: az asztali környezet hálózati beállításaiban (például Beállítások → "
         "Hálózat → a kapcsolatod → IPv4 → DNS) kapcsold ki az automatikus DNS-t, és írd be a 1.1.1.1 és a 8.8.8.8 "
         "címet."},
        {"Engedélyezd a helymeghatározást a Polvarine-nak (Rendszerbeállítások → Adatvédelem és biztonság → "
         "Helymeghatározás). A macOS enélkül nem adja ki a Wi-Fi jelerősséget, és emiatt nem tudjuk elkülöníteni a "
         "rádiókapcsolatot a routertől.",
         "Nézd meg, hogy a gép Wi-Fi-csatolója látszik-e (például az „iw dev” paranccsal). Ha a rendszer nem adja ki "
         "a Wi-Fi jelerősséget, nem tudjuk elkülöníteni a rádiókapcsolatot a routertől."},
        {"A Mac nem talál útvonalat a hálózat felé.", "A gép nem talál útvonalat a hálózat felé."},
        {"A Wi-Fi mérhető, de a hálózat nevéhez és a hozzáférési pont azonosítójához a macOS helymeghatározási "
         "engedélyt kér.",
         "A Wi-Fi mérhető, de a rendszer nem adja ki a hálózat nevét és a hozzáférési pont azonosítóját."},
        {"Nézd meg, hogy a Mac Wi-Fije be van-e kapcsolva, és a megfelelő hálózathoz kapcsolódik-e.",
         "Nézd meg, hogy a gép Wi-Fije be van-e kapcsolva, és a megfelelő hálózathoz kapcsolódik-e."},
        // The measurement dossier.
        {"Ez a dokumentum a Polvarine nevű alkalmazás által, az előfizető saját Mac számítógépén rögzített "
         "mérések feljegyzése. Nem hatóságilag ellenőrzött mérés, nem szakvélemény, és önmagában nem állapít "
         "meg szerződésszegést.",
         "Ez a dokumentum a Polvarine nevű alkalmazás által, az előfizető saját számítógépén rögzített mérések "
         "feljegyzése. Nem hatóságilag ellenőrzött mérés, nem szakvélemény, és önmagában nem állapít meg "
         "szerződésszegést."},
        {"Mérési mód. Minden mérés a Mac saját hálózati kapcsolatán, natív rendszerhívásokkal történik: ICMP "
         "visszhangkérés adatgram-socketen, DNS-lekérdezés a rendszer feloldóján át, és egy HTTP-kérés. Külső "
         "segédprogram nem fut, és a mérés nem terheli a vonalat.",
         "Mérési mód. Minden mérés a számítógép saját hálózati kapcsolatán, natív rendszerhívásokkal történik: "
         "ICMP visszhangkérés adatgram-socketen, DNS-lekérdezés a rendszer feloldóján át, és egy HTTP-kérés. "
         "Külső segédprogram nem fut, és a mérés nem terheli a vonalat."},
        {"Az óra forrása. Az időbélyegek a Mac rendszerórájából származnak. A mérések közötti időtartamokat "
         "monoton óra méri, amit az óraátállítás és az időszinkronizálás nem befolyásol.",
         "Az óra forrása. Az időbélyegek a számítógép rendszerórájából származnak. A mérések közötti "
         "időtartamokat monoton óra méri, amit az óraátállítás és az időszinkronizálás nem befolyásol."},
        {"A hézag olyan időszak, amikor az alkalmazás nem mért: a Mac aludt, ki volt kapcsolva, vagy a "
         "rögzítés szünetelt. A hézag nem hiba a szolgáltatónál, és nem is működő időszak — egyszerűen nincs "
         "róla adatunk. Ezért soroljuk fel őket külön.",
         "A hézag olyan időszak, amikor az alkalmazás nem mért: a számítógép alvó állapotban volt, ki volt "
         "kapcsolva, vagy a rögzítés szünetelt. A hézag nem hiba a szolgáltatónál, és nem is működő időszak — "
         "egyszerűen nincs róla adatunk. Ezért soroljuk fel őket külön."},
        {", az előfizető saját Mac gépén",
         ", az előfizető saját gépén"},
        {"A macOS 14-től ehhez az engedélyhez köti a Wi-Fi hálózat nevét és a hozzáférési pont azonosítóját. Enélkül "
         "nem tudjuk elkülöníteni a rádiókapcsolatot a routertől, és az ítélet ennyivel bizonytalanabb lesz.",
         "Linuxon a Wi-Fi hálózat nevének és a hozzáférési pont azonosítójának olvasásához nem kell engedély. A "
         "hálózat beállításait az asztali környezet kezeli."},
        {"Rendszerbeállítások", "Hálózati beállítások"},
        // The first-run introduction: the location permission it offers beside the login switch
        // does not exist here, and the window's status lives in the tray.
        {"Két beállítás, ami tényleg számít", "Egy beállítás, ami tényleg számít"},
        {"A többit később is ráérsz. Ez a kettő viszont eldönti, hogy mennyit ér majd a feljegyzés.",
         "A többit később is ráérsz. Ez viszont eldönti, hogy mennyit ér majd a feljegyzés."},
        {"Ez az egyetlen dolog, amit tenned kell. A mérés a menüsávból is látszik, és nem zavar.",
         "Ez az egyetlen dolog, amit tenned kell. A mérés a tálcaikonról is látszik, és nem zavar."},
        {"A lefedettség azt mondja meg, az időszak hányad részében futott a mérés. A hiányzó rész nem hiba a "
         "szolgáltatónál: a Mac aludt, ki volt kapcsolva, vagy a rögzítés szünetelt. A hézagokat tételesen "
         "felsoroljuk.",
         "A lefedettség azt mondja meg, az időszak hányad részében futott a mérés. A hiányzó rész nem hiba a "
         "szolgáltatónál: a számítógép alvó állapotban volt, ki volt kapcsolva, vagy a rögzítés szünetelt. A "
         "hézagokat tételesen felsoroljuk."},
        {"A Mac ezekhez a hozzáférési pontokhoz kapcsolódott az időszak alatt. A gyenge minták aránya azt "
         "mutatja, az adott ponton a jel milyen gyakran esett a tervezési határ alá.",
         "A számítógép ezekhez a hozzáférési pontokhoz kapcsolódott az időszak alatt. A gyenge minták aránya azt "
         "mutatja, az adott ponton a jel milyen gyakran esett a tervezési határ alá."},
        {"Megmutatom a Finderben", "Megmutatom a fájlkezelőben"},
    };
    return table;
}

QString PlatformTextTranslator::translate(const char* context, const char* sourceText, const char*, int) const
{
    if (context == nullptr || sourceText == nullptr || std::strcmp(context, kContext) != 0)
        return {};
    const std::string_view key(sourceText);
    for (const PlatformText& entry : platformTexts())
        if (entry.key == key)
            return QString::fromUtf8(entry.linuxText.data(), static_cast<qsizetype>(entry.linuxText.size()));
    return {};
}

PlatformTextTranslator* installPlatformTexts()
{
    static PlatformTextTranslator* installed = nullptr;
    if (installed == nullptr) {
        installed = new PlatformTextTranslator(QCoreApplication::instance());
        QCoreApplication::installTranslator(installed);
    }
    return installed;
}

} // namespace pv
