#include "core/app/Preferences.h"

#include "core/records/Localization.h"
#include "core/records/Logging.h"
#include "core/records/PrivateFiles.h"

#include <QFile>
#include <QFileInfo>
#include <QMetaType>


namespace pv {

QString title(RetentionChoice c)
{
    switch (c) {
    case RetentionChoice::compact: return L("Takarékos");
    case RetentionChoice::standard: return L("Alapértelmezett");
    case RetentionChoice::longTerm: return L("Hosszú");
    }
    return {};
}

QString detail(RetentionChoice c)
{
    switch (c) {
    case RetentionChoice::compact: return L("Nyers mérés 2 napig, összesítés fél évig. Néhány tíz megabájt.");
    case RetentionChoice::standard:
        return L("Nyers mérés egy hétig, összesítés 2 évig. A legtöbb esetben ez a jó.");
    case RetentionChoice::longTerm:
        return L("Nyers mérés egy hónapig. Akkor hasznos, ha hosszú vitád van a szolgáltatóval.");
    }
    return {};
}

RetentionPolicy retentionPolicy(RetentionChoice c)
{
    switch (c) {
    case RetentionChoice::compact: return RetentionPolicy::compact();
    case RetentionChoice::standard: return RetentionPolicy::standard();
    case RetentionChoice::longTerm: return RetentionPolicy::longTerm();
    }
    return RetentionPolicy::standard();
}

namespace {
// The INI file keeps no types: a Bool comes back as the text "true" or "false", a number as its
// digits. These read a stored value the way each setting was meant to be typed.

// The update switch counts as off only for a stored Bool false.
bool storedSwitchOrOn(const QVariant& v)
{
    if (!v.isValid())
        return true;
    if (v.typeId() == QMetaType::Bool)
        return v.toBool();
    return v.toString() != QLatin1String("false");
}

// The outage switch reads as a Bool is read from any stored value: a number is on when it is not
// zero; a text is on when, after blanks, a sign and leading zeros, it starts with Y, y, T, t or a
// digit from 1 to 9 (so "true", "YES" and "1" are on, "false", "no" and "0" are off).
bool storedBoolOrOff(const QVariant& v)
{
    if (!v.isValid())
        return false;
    switch (v.typeId()) {
    case QMetaType::Bool: return v.toBool();
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong:
    case QMetaType::Double: return v.toDouble() != 0;
    default: break;
    }
    const QString text = v.toString();
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        ++i;
    while (i < text.size() && text[i] == QLatin1Char('0'))
        ++i;
    if (i >= text.size())
        return false;
    const QChar c = text[i];
    return c == QLatin1Char('Y') || c == QLatin1Char('y') || c == QLatin1Char('T') || c == QLatin1Char('t') ||
           (c >= QLatin1Char('1') && c <= QLatin1Char('9'));
}

void makePrivateSettingsFile(const QString& path)
{
    try {
        makePrivateFolder(QFileInfo(path).absolutePath(), true);
    } catch (const std::exception& e) {
        qCWarning(log::preferences(), "Could not create the settings folder: %s", e.what());
        return;
    }
    // Qt rewrites the file through a copy that takes the old file's mode, so a file made private
    // before the first write stays so.
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner))
            file.close();
    }
    makePrivateFile(path);
}
} // namespace

std::shared_ptr<QSettings> PreferencesStore::makeDefaultSettings()
{
    auto settings = std::make_shared<QSettings>(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Polvarine"),
                                                QStringLiteral("Polvarine"));
    makePrivateSettingsFile(settings->fileName());
    return settings;
}

PreferencesStore::PreferencesStore(QObject* parent) : PreferencesStore(Platform{}, parent) {}

PreferencesStore::PreferencesStore(Platform platform, QObject* parent) : QObject(parent), platform_(std::move(platform))
{
    if (!platform_.settings)
        platform_.settings = makeDefaultSettings();
    if (!platform_.loginItem)
        platform_.loginItem = std::make_shared<XdgAutostartLoginItem>();
    if (!platform_.notifier)
        platform_.notifier = std::make_shared<FreedesktopNotifier>();

    QSettings& s = *platform_.settings;
    const QVariant retention = s.value(QLatin1String(retentionKey));
    const QString retentionText = retention.isValid() ? retention.toString() : QStringLiteral("standard");
    if (retentionText == QLatin1String("compact"))
        retention_ = RetentionChoice::compact;
    else if (retentionText == QLatin1String("long"))
        retention_ = RetentionChoice::longTerm;
    else
        retention_ = RetentionChoice::standard;

    // A switch that was never set, or holds something that is not a Bool, reads as the default.
    notifyOnOutage_ = storedBoolOrOff(s.value(QLatin1String(notifyOnOutageKey)));
    checksForUpdates_ = storedSwitchOrOn(s.value(QLatin1String(checksForUpdatesKey)));
    launchesAtLogin_ = platform_.loginItem->isEnabled();
    measuresIPv6_ = storedSwitchOrOn(s.value(QLatin1String(measuresIPv6Key)));
    notifyOnIPv6_ = storedBoolOrOff(s.value(QLatin1String(notifyOnIPv6Key)));
}

PreferencesStore::~PreferencesStore() = default;

template <typename T>
void PreferencesStore::writeThrough(T& field, T value, const char* key, const QVariant& stored, void (PreferencesStore::*changed)())
{
    const bool differs = field != value;
    field = value;
    platform_.settings->setValue(QLatin1String(key), stored);
    platform_.settings->sync();
    if (differs)
        Q_EMIT(this->*changed)();
}

void PreferencesStore::setRetention(RetentionChoice choice)
{
    writeThrough(retention_, choice, retentionKey, rawValue(choice), &PreferencesStore::retentionChanged);
}

void PreferencesStore::setNotifyOnOutage(bool enabled)
{
    writeThrough(notifyOnOutage_, enabled, notifyOnOutageKey, enabled, &PreferencesStore::notifyOnOutageChanged);
    // Asked each time the switch is turned on, never at start.
    if (enabled)
        platform_.notifier->requestAuthorization();
}

void PreferencesStore::setChecksForUpdates(bool enabled)
{
    writeThrough(checksForUpdates_, enabled, checksForUpdatesKey, enabled, &PreferencesStore::checksForUpdatesChanged);
}

void PreferencesStore::setMeasuresIPv6(bool enabled)
{
    writeThrough(measuresIPv6_, enabled, measuresIPv6Key, enabled, &PreferencesStore::measuresIPv6Changed);
}

void PreferencesStore::setNotifyOnIPv6(bool enabled)
{
    writeThrough(notifyOnIPv6_, enabled, notifyOnIPv6Key, enabled, &PreferencesStore::notifyOnIPv6Changed);
    if (enabled)
        platform_.notifier->requestAuthorization();
}

void PreferencesStore::notifyIPv6Broken(Timestamp at, const QString& title, const QString& sentence)
{
    if (!notifyOnIPv6_)
        return;
    const QString identifier = QStringLiteral("ipv6-") + shortestDoubleText(at);
    qCInfo(log::preferences, "IPv6 notification: %s", qUtf8Printable(identifier));
    platform_.notifier->post(identifier, title, sentence);
}

void PreferencesStore::setLaunchAtLogin(bool enabled)
{
    try {
        platform_.loginItem->setEnabled(enabled);
    } catch (const std::exception& e) {
        qCCritical(log::preferences, "Login item change failed: %s", e.what());
    }
    refreshLoginItemStatus();
}

void PreferencesStore::refreshLoginItemStatus() { setLaunchesAtLogin(platform_.loginItem->isEnabled()); }

void PreferencesStore::setLaunchesAtLogin(bool value)
{
    if (launchesAtLogin_ == value)
        return;
    launchesAtLogin_ = value;
    Q_EMIT launchesAtLoginChanged();
}

QString PreferencesStore::outageIdentifier(Timestamp at)
{
    return QStringLiteral("outage-") + shortestDoubleText(at);
}

void PreferencesStore::notifyOutageBegan(Timestamp at, FaultLocation location)
{
    if (!notifyOnOutage_)
        return;
    qCInfo(log::preferences, "Outage notification: %s", qUtf8Printable(outageIdentifier(at)));
    const QString body = location == FaultLocation::provider
                             ? L("A routered válaszol, a szolgáltatói szakasz nem. A Polvarine rögzíti a kiesést.")
                             : L("A Polvarine rögzíti, mikor kezdődött és meddig tart.");
    platform_.notifier->post(outageIdentifier(at), L("Megszakadt az internetkapcsolat"), body);
}

} // namespace pv
