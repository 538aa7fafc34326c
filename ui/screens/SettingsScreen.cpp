#include "ui/screens/SettingsScreen.h"

#include "core/app/AppViewModel.h"
#include "core/app/Preferences.h"
#include "core/probes/LocationPermission.h"
#include "core/records/Localization.h"
#include "ui/design/Components.h"
#include "ui/main/MainWidgets.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace pv {

QString settings::updateNote(const std::optional<QUrl>& feed)
{
    if (!feed || feed->host().isEmpty())
        return L("Ez a kiadás nem keres frissítést: nincs beállítva frissítési forrás, így semmit nem tölt le, és "
                 "semmit nem küld rólad.");
    return LF("Ez az egyetlen kimenő kérés, ami nem mérés. Egy statikus fájlt tölt le a %@-ről, és semmit nem küld "
              "rólad — se azonosítót, se mérési adatot. Kikapcsolhatod; akkor viszont nem fogsz értesülni a "
              "javításokról.",
              {feed->host()});
}

void bindLaunchSwitch(PVSwitch* toggle, PreferencesStore& preferences)
{
    toggle->setChecked(preferences.launchesAtLogin());
    QObject::connect(toggle, &QAbstractButton::clicked, toggle, [toggle, &preferences](bool on) {
        preferences.setLaunchAtLogin(on);
        // What the autostart entry says now, whether or not the change went through.
        toggle->setChecked(preferences.launchesAtLogin());
    });
    QObject::connect(&preferences, &PreferencesStore::launchesAtLoginChanged, toggle,
                     [toggle, &preferences] { toggle->setChecked(preferences.launchesAtLogin()); });
}

namespace {

QWidget* vstack(QWidget* parent, int spacing, QVBoxLayout** layout)
{
    auto* w = new QWidget(parent);
    *layout = new QVBoxLayout(w);
    (*layout)->setContentsMargins(0, 0, 0, 0);
    (*layout)->setSpacing(spacing);
    return w;
}

PVSwitch* makeSwitch(QWidget* parent, const QString& name)
{
    auto* s = new PVSwitch(parent);
    s->setAccessibleName(name);
    return s;
}

} // namespace

SettingsScreen::SettingsScreen(AppViewModel& viewModel, QWidget* parent)
    : SettingsScreen(viewModel, DesktopHooks::current(), parent)
{
}

SettingsScreen::SettingsScreen(AppViewModel& viewModel, DesktopHooks hooks, QWidget* parent)
    : PVScreenPage(parent), viewModel_(viewModel), preferences_(viewModel.preferences()), hooks_(std::move(hooks))
{
    feed_ = hooks_.updateFeed ? hooks_.updateFeed() : std::nullopt;

    QVBoxLayout* header = nullptr;
    auto* headerBox = vstack(column(), 2, &header);
    auto* heading = new PVText(L("Beállítások"), PVFontToken::screenTitle, PV::color::ink::primary, headerBox);
    heading->setWrapping(false);
    header->addWidget(heading);
    header->addWidget(new PVText(L("Kevés kapcsoló, mert a többi kérdésre a mérés jobban válaszol, mint egy csúszka."),
                                 PVFontToken::caption, PV::color::ink::tertiary, headerBox));
    stack()->addWidget(headerBox);
    stack()->addWidget(makeRunningCard());
    stack()->addWidget(makeRetentionCard());
    stack()->addWidget(makePermissionCard());
    stack()->addWidget(makeMeasuredCard());
    stack()->addStretch(1);

    connect(&preferences_, &PreferencesStore::notifyOnOutageChanged, this, &SettingsScreen::refreshPreferences);
    connect(&preferences_, &PreferencesStore::checksForUpdatesChanged, this, &SettingsScreen::refreshPreferences);
    connect(&preferences_, &PreferencesStore::measuresIPv6Changed, this, &SettingsScreen::refreshPreferences);
    connect(&preferences_, &PreferencesStore::notifyOnIPv6Changed, this, &SettingsScreen::refreshPreferences);
    connect(&preferences_, &PreferencesStore::retentionChanged, this, &SettingsScreen::refreshPreferences);
    connect(&viewModel_, &AppViewModel::locationAuthorizationStatusChanged, this,
            [this] { locationStatus_->setText(locationStatusText()); });
    connect(&PVTheme::instance(), &PVTheme::changed, this, &SettingsScreen::refreshPathStyle);
    refreshPreferences();
}

QWidget* SettingsScreen::makeRunningCard()
{
    auto* card = new PVSectionCard(
        L("Futás"), L("Ami nem fut, az nem mér — és amit nem mértünk, arról nincs mit mondani."), column());
    QVBoxLayout* rows = nullptr;
    auto* body = vstack(card, 16, &rows);

    launch_ = makeSwitch(body, L("Indulás bejelentkezéskor"));
    bindLaunchSwitch(launch_, preferences_);
    rows->addWidget(new PVSettingRow(L("Indulás bejelentkezéskor"),
                                     L("Enélkül csak akkor gyűlik feljegyzés, amikor épp eszedbe jut elindítani — és "
                                       "a hibák jellemzően nem akkor történnek."),
                                     PVFontToken::callout, PV::color::ink::tertiary, launch_, body));

    notify_ = makeSwitch(body, L("Értesítés kimaradáskor"));
    connect(notify_, &QAbstractButton::clicked, this, [this](bool on) { preferences_.setNotifyOnOutage(on); });
    rows->addWidget(new PVSettingRow(L("Értesítés kimaradáskor"),
                                     L("Csak teljes kiesésnél szól. Minden lassulásnál értesíteni annyit érne, hogy "
                                       "egy hét múlva elnémítod, és akkor hallgatna, amikor számít."),
                                     PVFontToken::callout, PV::color::ink::tertiary, notify_, body));
    rows->addWidget(new PVDivider(body));

    ipv6_ = makeSwitch(body, L("IPv6 mérése"));
    connect(ipv6_, &QAbstractButton::clicked, this, [this](bool on) { preferences_.setMeasuresIPv6(on); });
    rows->addWidget(new PVSettingRow(L("IPv6 mérése"),
                                     L("Ahol a hálózaton van IPv6, azt is méri az IPv4 mellett: a böngészők azt "
                                       "próbálják először. Kikapcsolva semmi sem megy ki IPv6-on."),
                                     PVFontToken::callout, PV::color::ink::tertiary, ipv6_, body));
    ipv6Notify_ = makeSwitch(body, L("Értesítés, ha az IPv6 elromlik"));
    connect(ipv6Notify_, &QAbstractButton::clicked, this, [this](bool on) { preferences_.setNotifyOnIPv6(on); });
    rows->addWidget(new PVSettingRow(L("Értesítés, ha az IPv6 elromlik"),
                                     L("Egyszer szól, amikor az IPv6 útvonal hibája kezdődik. Az áttekintés és a "
                                       "menüsor ablaka értesítés nélkül is mutatja."),
                                     PVFontToken::callout, PV::color::ink::tertiary, ipv6Notify_, body));
    rows->addWidget(new PVDivider(body));

    update_ = makeSwitch(body, L("Frissítés keresése"));
    // Without a configured feed there is nothing to check: the switch stays off and cannot be turned.
    update_->setEnabled(feed_.has_value());
    connect(update_, &QAbstractButton::clicked, this, [this](bool on) { preferences_.setChecksForUpdates(on); });
    auto* updateRow = new PVSettingRow(L("Frissítés keresése"), settings::updateNote(feed_), PVFontToken::callout,
                                       PV::color::ink::tertiary, update_, body);
    updateNote_ = updateRow->noteText();
    rows->addWidget(updateRow);
    card->addContent(body);
    return card;
}

QWidget* SettingsScreen::makeRetentionCard()
{
    auto* card = new PVSectionCard(
        L("Megőrzés"), L("A nyers mérések helyigényesek, az összesítések nem. Ezért különbözik a kettő élettartama."),
        column());
    QVBoxLayout* rows = nullptr;
    auto* body = vstack(card, 16, &rows);

    QStringList titles;
    for (RetentionChoice c : allRetentionChoices())
        titles << title(c);
    retention_ = new PVSegmentedPicker(titles, 380, body);
    retention_->setAccessibleName(L("Megőrzés"));
    connect(retention_, &PVSegmentedPicker::picked, this, [this](int index) {
        preferences_.setRetention(allRetentionChoices()[static_cast<std::size_t>(index)]);
    });
    rows->addWidget(retention_);
    retentionDetail_ = new PVText(QString(), PVFontToken::caption, PV::color::ink::secondary, body);
    rows->addWidget(retentionDetail_);
    rows->addWidget(new PVDivider(body));

    auto* databaseRow = new QWidget(body);
    auto* row = new QHBoxLayout(databaseRow);
    row->setContentsMargins(0, 0, 0, 0);
    QVBoxLayout* labels = nullptr;
    auto* labelBox = vstack(databaseRow, 2, &labels);
    labels->addWidget(new PVText(L("Az adatbázis helye"), PVFontToken::callout, PV::color::ink::primary, labelBox));
    databasePath_ = new QLabel(viewModel_.databaseLocationDescription(), labelBox);
    databasePath_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    databasePath_->setWordWrap(true);
    refreshPathStyle();
    labels->addWidget(databasePath_);
    row->addWidget(labelBox, 1);
    if (const std::optional<QUrl> url = viewModel_.databaseURL()) {
        reveal_ = makeSmallButton(L("Megmutatom"), databaseRow);
        revealFailure_ = new QLabel(labelBox);
        revealFailure_->setWordWrap(true);
        revealFailure_->setTextInteractionFlags(Qt::TextSelectableByMouse);
        revealFailure_->hide();
        labels->addWidget(revealFailure_);
        const QString file = url->toLocalFile();
        connect(reveal_, &QAbstractButton::clicked, this, [this, file] {
            revealFailure_->hide();
            const auto failed = [this](const QString& message) {
                revealFailure_->setText(message);
                revealFailure_->show();
            };
            // The same way and the same failure sentence as every other button that shows a folder.
            if (hooks_.revealFile)
                hooks_.revealFile(file, failed);
            else
                viewModel_.revealInFileManager(QUrl::fromLocalFile(file),
                                               QUrl::fromLocalFile(QFileInfo(file).absolutePath()), failed);
        });
        row->addWidget(reveal_, 0, Qt::AlignTop);
    }
    rows->addWidget(databaseRow);
    // Without an update feed there is no update check to speak of.
    rows->addWidget(new PVText(feed_ ? L("Minden mérés ezen a gépen marad. Nincs fiók, nincs felhő, nincs telemetria. "
                                         "Az egyetlen kimenő kérés, ami nem mérés, a fenti frissítéskeresés — az is "
                                         "csak egy statikus fájlt tölt le, és semmit nem küld rólad.")
                                     : L("Minden mérés ezen a gépen marad. Nincs fiók, nincs felhő, nincs telemetria."),
                               PVFontToken::caption, PV::color::ink::tertiary, body));
    card->addContent(body);
    return card;
}

QWidget* SettingsScreen::makePermissionCard()
{
    auto* card = new PVSectionCard(L("Engedélyek"), std::nullopt, column());
    QVBoxLayout* rows = nullptr;
    auto* body = vstack(card, 12, &rows);
    // The button is offered only where the desktop has a program for its network settings.
    const std::optional<ProgramCommand> command = hooks_.networkSettings ? hooks_.networkSettings() : std::nullopt;
    if (command) {
        networkSettings_ = makeSmallButton(L("Rendszerbeállítások"), body);
        connect(networkSettings_, &QAbstractButton::clicked, this, [this, c = *command] {
            if (hooks_.startProgram)
                hooks_.startProgram(c);
        });
    }
    auto* row = new PVSettingRow(
        L("Helymeghatározás"),
        L("A macOS 14-től ehhez az engedélyhez köti a Wi-Fi hálózat nevét és a hozzáférési pont azonosítóját. Enélkül "
          "nem tudjuk elkülöníteni a rádiókapcsolatot a routertől, és az ítélet ennyivel bizonytalanabb lesz."),
        PVFontToken::callout, PV::color::ink::tertiary, networkSettings_, body);
    rows->addWidget(row);
    locationStatus_ = new PVText(locationStatusText(), PVFontToken::caption, PV::color::ink::secondary, body);
    rows->addWidget(locationStatus_);
    // On Linux the echoes of the router and provider legs need a permission of their own.
    rows->addWidget(new PVDivider(body));
    rows->addWidget(new PVSettingRow(L("Ping (ICMP) mérés"),
                                     L("A router és a szolgáltató szakaszát visszhangkéréssel mérjük. Ezt a rendszer "
                                       "felhasználónként engedi vagy tiltja."),
                                     PVFontToken::callout, PV::color::ink::tertiary, nullptr, body));
    const IcmpPermission icmp = hooks_.icmpPermission ? hooks_.icmpPermission() : IcmpPermission::unknown;
    icmpStatus_ = new PVText(icmpPermissionStatusText(icmp), PVFontToken::caption,
                             icmp == IcmpPermission::refused ? PVColor(statusMarkSaturated(PVStatus::serious))
                                                             : PVColor(PV::color::ink::secondary),
                             body);
    rows->addWidget(icmpStatus_);
    card->addContent(body);
    return card;
}

QWidget* SettingsScreen::makeMeasuredCard()
{
    auto* card = new PVSectionCard(L("Amit ez az app mér"), std::nullopt, column());
    QVBoxLayout* rows = nullptr;
    auto* body = vstack(card, 8, &rows);
    const std::pair<const char*, const char*> items[] = {
        {"A routered", "ICMP visszhangkérés az alapértelmezett átjáróra."},
        {"A routeren túl", "ICMP egy nyilvános címre — a különbség a kettő között a szolgáltatói szakasz."},
        {"Névfeloldás", "DNS-lekérdezés a rendszer feloldóján keresztül."},
        {"Webes elérés", "Egy HTTP-kérés, ami a fizetőkapukat is felismeri."}};
    for (const auto& [itemTitle, description] : items) {
        auto* line = new QWidget(body);
        auto* row = new QHBoxLayout(line);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(12);
        auto* t = new PVText(L(itemTitle), PVFontToken::cardTitle, PV::color::ink::primary, line);
        // 130 wide at the usual text size, wider as the text grows, so a title stays on one line.
        const auto followTextSize = [t] {
            const double scale = std::max(1.0, PVTheme::instance().textScale(PVFontToken::cardTitle.relativeTo));
            t->setFixedWidth(static_cast<int>(std::lround(130 * scale)));
        };
        followTextSize();
        connect(&PVTheme::instance(), &PVTheme::changed, t, followTextSize);
        row->addWidget(t, 0, Qt::AlignTop);
        row->addWidget(new PVText(L(description), PVFontToken::caption, PV::color::ink::secondary, line), 1,
                       Qt::AlignTop);
        rows->addWidget(line);
    }
    auto* dividerBox = new QWidget(body);
    auto* dividerLayout = new QVBoxLayout(dividerBox);
    dividerLayout->setContentsMargins(0, 4, 0, 4);
    dividerLayout->addWidget(new PVDivider(dividerBox));
    rows->addWidget(dividerBox);
    rows->addWidget(new PVText(L("Minden mérés natív rendszerhívással történik, külső segédprogram nélkül. Ami nem "
                                 "érkezik vissza, az nem kap értéket: a feljegyzésbe nem a várakozási idő plafonja "
                                 "kerül, hanem az, hogy nem jött válasz."),
                               PVFontToken::caption, PV::color::ink::secondary, body));
    card->addContent(body);
    return card;
}

QString SettingsScreen::locationStatusText() const
{
    // With the permission given the note above has said it all; what is left to say is whether
    // this machine has a Wi-Fi connection to measure at all.
    const int status = viewModel_.locationAuthorizationStatus();
    if (status != LocationPermissionService::authorizedAlways && status != LocationPermissionService::authorizedWhenInUse)
        return viewModel_.locationStatusDescription();
    if (hooks_.wifiPresent && hooks_.wifiPresent())
        return L("Ezen a gépen van Wi-Fi-csatoló: a hálózat neve és a hozzáférési pont azonosítója is mérhető.");
    return L("Ezen a gépen nincs Wi-Fi-csatoló, így a Wi-Fi szakaszt nem mérjük: a router és a szolgáltató "
             "szakasza ettől még mérhető.");
}

void SettingsScreen::refreshPreferences()
{
    notify_->setChecked(preferences_.notifyOnOutage());
    update_->setChecked(feed_.has_value() && preferences_.checksForUpdates());
    ipv6_->setChecked(preferences_.measuresIPv6());
    ipv6Notify_->setChecked(preferences_.notifyOnIPv6());
    ipv6Notify_->setEnabled(preferences_.measuresIPv6());
    const RetentionChoice choice = preferences_.retention();
    retention_->setCurrentIndex(static_cast<int>(choice));
    retentionDetail_->setText(detail(choice));
}

void SettingsScreen::refreshPathStyle()
{
    // The path is a selectable label, not a token text: its font and colour are set here, again
    // whenever the text size or the appearance changes.
    if (databasePath_->font() != pvFont(PVFontToken::monoDataSmall))
        databasePath_->setFont(pvFont(PVFontToken::monoDataSmall));
    QPalette pal = databasePath_->palette();
    pal.setColor(QPalette::WindowText, PVColor(PV::color::ink::tertiary).resolve());
    pal.setColor(QPalette::Text, PVColor(PV::color::ink::tertiary).resolve());
    databasePath_->setPalette(pal);
}

void SettingsScreen::showEvent(QShowEvent* event)
{
    PVScreenPage::showEvent(event);
    // Catches a change of the autostart entry made while the page was hidden.
    preferences_.refreshLoginItemStatus();
    launch_->setChecked(preferences_.launchesAtLogin());
}

} // namespace pv
