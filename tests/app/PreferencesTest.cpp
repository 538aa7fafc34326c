#include "core/app/Preferences.h"

#include "tests/support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>

#include <sys/stat.h>

#include <gtest/gtest.h>

using namespace pv;

namespace {

struct FakeNotifier : DesktopNotifier {
    struct Post {
        QString identifier, title, body;
    };
    int authorizationRequests = 0;
    std::vector<Post> posts;
    void requestAuthorization() override { ++authorizationRequests; }
    void post(const QString& identifier, const QString& title, const QString& body) override
    {
        posts.push_back({identifier, title, body});
    }
};

class PreferencesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = test::makeTempDir();
        settingsPath = dir + "/settings.ini";
        autostartPath = dir + "/config/autostart/polvarine.desktop";
        notifier = std::make_shared<FakeNotifier>();
    }
    std::shared_ptr<QSettings> settings() const
    {
        return std::make_shared<QSettings>(settingsPath, QSettings::IniFormat);
    }
    std::unique_ptr<PreferencesStore> makeStore()
    {
        return std::make_unique<PreferencesStore>(PreferencesStore::Platform{
            settings(), std::make_shared<XdgAutostartLoginItem>(autostartPath, "/opt/Polvarine Apps/polvarine"), notifier});
    }
    void store(const char* key, const QVariant& value) const
    {
        auto s = settings();
        s->setValue(QLatin1String(key), value);
        s->sync();
    }

    QString dir, settingsPath, autostartPath;
    std::shared_ptr<FakeNotifier> notifier;
};

} // namespace

TEST_F(PreferencesTest, EmptySettingsGiveTheDefaults)
{
    auto prefs = makeStore();
    EXPECT_EQ(prefs->retention(), RetentionChoice::standard);
    EXPECT_EQ(prefs->retentionPolicy(), RetentionPolicy::standard());
    EXPECT_FALSE(prefs->notifyOnOutage());
    EXPECT_TRUE(prefs->checksForUpdates());
    EXPECT_FALSE(prefs->launchesAtLogin());
    // Nothing is asked or written at start.
    EXPECT_EQ(notifier->authorizationRequests, 0);
    EXPECT_TRUE(settings()->allKeys().isEmpty());
}

TEST_F(PreferencesTest, StoredValuesAreReadWithTheirTypeRules)
{
    store(PreferencesStore::retentionKey, "long");
    store(PreferencesStore::notifyOnOutageKey, true);
    store(PreferencesStore::checksForUpdatesKey, false);
    auto prefs = makeStore();
    EXPECT_EQ(prefs->retention(), RetentionChoice::longTerm);
    const RetentionPolicy p = prefs->retentionPolicy();
    EXPECT_EQ(p.rawSampleSeconds, 2592000);
    EXPECT_EQ(p.minuteRollupSeconds, 15552000);
    EXPECT_EQ(p.hourRollupSeconds, 94608000);
    EXPECT_EQ(p.wifiSnapshotSeconds, 2592000);
    EXPECT_EQ(p.narrativeSeconds, 94608000);
    EXPECT_TRUE(prefs->notifyOnOutage());
    EXPECT_FALSE(prefs->checksForUpdates());

    // Unknown or mistyped values fall back: retention to standard, the update switch to on.
    store(PreferencesStore::retentionKey, "weekly");
    store(PreferencesStore::checksForUpdatesKey, "nope");
    store(PreferencesStore::notifyOnOutageKey, "nope");
    prefs = makeStore();
    EXPECT_EQ(prefs->retention(), RetentionChoice::standard);
    EXPECT_TRUE(prefs->checksForUpdates());
    EXPECT_FALSE(prefs->notifyOnOutage());
    for (const QVariant& on : {QVariant(7), QVariant("YES"), QVariant(" +01"), QVariant("t")}) {
        store(PreferencesStore::notifyOnOutageKey, on);
        EXPECT_TRUE(makeStore()->notifyOnOutage()) << on.toString().toStdString();
    }
    for (const QVariant& off : {QVariant(0), QVariant("0"), QVariant("false"), QVariant("no"), QVariant("")}) {
        store(PreferencesStore::notifyOnOutageKey, off);
        EXPECT_FALSE(makeStore()->notifyOnOutage()) << off.toString().toStdString();
    }
    store(PreferencesStore::checksForUpdatesKey, 0); // a number is not a Bool: the switch stays on
    EXPECT_TRUE(makeStore()->checksForUpdates());
    EXPECT_EQ(settings()->value(PreferencesStore::retentionKey).toString(), "weekly"); // kept until the user picks

    store(PreferencesStore::retentionKey, "compact");
    EXPECT_EQ(makeStore()->retentionPolicy(), RetentionPolicy::compact());
    EXPECT_EQ(makeStore()->retentionPolicy().narrativeSeconds, 15724800);
}

TEST_F(PreferencesTest, SettersPersistAtOnceAndAnnounceTheirChange)
{
    auto prefs = makeStore();
    QSignalSpy retention(prefs.get(), &PreferencesStore::retentionChanged);
    QSignalSpy updates(prefs.get(), &PreferencesStore::checksForUpdatesChanged);
    QSignalSpy notify(prefs.get(), &PreferencesStore::notifyOnOutageChanged);

    prefs->setRetention(RetentionChoice::longTerm);
    EXPECT_EQ(settings()->value(PreferencesStore::retentionKey).toString(), "long");
    prefs->setChecksForUpdates(false);
    EXPECT_EQ(settings()->value(PreferencesStore::checksForUpdatesKey).toString(), "false");
    prefs->setNotifyOnOutage(true);
    EXPECT_EQ(settings()->value(PreferencesStore::notifyOnOutageKey).toString(), "true");
    EXPECT_EQ(retention.count(), 1);
    EXPECT_EQ(updates.count(), 1);
    EXPECT_EQ(notify.count(), 1);

    auto reread = makeStore();
    EXPECT_EQ(reread->retention(), RetentionChoice::longTerm);
    EXPECT_FALSE(reread->checksForUpdates());
    EXPECT_TRUE(reread->notifyOnOutage());
}

TEST_F(PreferencesTest, NotificationPermissionIsAskedEachTimeTheSwitchTurnsOn)
{
    store(PreferencesStore::notifyOnOutageKey, true);
    auto prefs = makeStore();
    EXPECT_EQ(notifier->authorizationRequests, 0); // never at start
    prefs->setNotifyOnOutage(false);
    EXPECT_EQ(notifier->authorizationRequests, 0);
    prefs->setNotifyOnOutage(true);
    prefs->setNotifyOnOutage(false);
    prefs->setNotifyOnOutage(true);
    EXPECT_EQ(notifier->authorizationRequests, 2);
}

TEST_F(PreferencesTest, OutageNotificationTextsAndIdentifiers)
{
    auto prefs = makeStore();
    prefs->notifyOutageBegan(1700000000.5, FaultLocation::provider);
    EXPECT_TRUE(notifier->posts.empty()); // switched off

    prefs->setNotifyOnOutage(true);
    prefs->notifyOutageBegan(1700000000.5, FaultLocation::provider);
    prefs->notifyOutageBegan(1700000100.25, FaultLocation::offline);
    prefs->notifyOutageBegan(1700000200, FaultLocation::router);
    ASSERT_EQ(notifier->posts.size(), 3u);
    EXPECT_EQ(notifier->posts[0].identifier, "outage-1700000000.5");
    EXPECT_EQ(notifier->posts[0].title, "Megszakadt az internetkapcsolat");
    EXPECT_EQ(notifier->posts[0].body, "A routered válaszol, a szolgáltatói szakasz nem. A Polvarine rögzíti a kiesést.");
    EXPECT_EQ(notifier->posts[1].identifier, "outage-1700000100.25");
    EXPECT_EQ(notifier->posts[1].body, "A Polvarine rögzíti, mikor kezdődött és meddig tart.");
    EXPECT_EQ(notifier->posts[2].identifier, "outage-1700000200.0");
    EXPECT_EQ(notifier->posts[2].body, "A Polvarine rögzíti, mikor kezdődött és meddig tart.");
}

TEST_F(PreferencesTest, LoginItemIsAnAutostartEntry)
{
    auto prefs = makeStore();
    QSignalSpy changed(prefs.get(), &PreferencesStore::launchesAtLoginChanged);
    prefs->setLaunchAtLogin(true);
    EXPECT_TRUE(prefs->launchesAtLogin());
    QFile entry(autostartPath);
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(entry.readAll());
    entry.close();
    EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(text.contains("Type=Application\n"));
    EXPECT_TRUE(text.contains("Exec=\"/opt/Polvarine Apps/polvarine\"\n")) << text.toStdString();
    // A session whose program was removed skips the entry quietly.
    EXPECT_TRUE(text.contains("TryExec=/opt/Polvarine Apps/polvarine\n")) << text.toStdString();
    EXPECT_TRUE(makeStore()->launchesAtLogin()); // read back from the system at start

    prefs->setLaunchAtLogin(false);
    EXPECT_FALSE(QFile::exists(autostartPath));
    EXPECT_FALSE(prefs->launchesAtLogin());
    EXPECT_EQ(changed.count(), 2);
    prefs->setLaunchAtLogin(false); // already off: nothing fails, nothing changes
    EXPECT_EQ(changed.count(), 2);
}

// An earlier version's polvarine.desktop beside the entry: one that is on moves to the entry's name,
// one the desktop switched off stays and reads as off; switching off removes both.
TEST_F(PreferencesTest, EarlierVersionsLoginItemIsTakenOver)
{
    const QString folder = dir + "/moved/autostart", entry = folder + "/hu.polvarine.Polvarine.desktop",
                  earlier = folder + "/polvarine.desktop";
    for (const bool on : {true, false}) {
        QDir().mkpath(folder);
        QFile old(earlier);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(on ? "[Desktop Entry]\nType=Application\nExec=/usr/bin/polvarine\n"
                     : "[Desktop Entry]\nType=Application\nExec=/usr/bin/polvarine\nHidden=true\n");
        old.close();
        XdgAutostartLoginItem item(entry, "/usr/bin/polvarine");
        EXPECT_EQ(item.isEnabled(), on);
        EXPECT_EQ(QFile::exists(entry), on);
        EXPECT_EQ(QFile::exists(earlier), !on);
        item.setEnabled(false);
        EXPECT_FALSE(QFile::exists(entry) || QFile::exists(earlier));
    }
}

TEST_F(PreferencesTest, LoginItemSwitchedOffByTheDesktopReadsAsOff)
{
    QDir().mkpath(dir + "/config/autostart");
    QFile entry(autostartPath);
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly));
    entry.write("[Desktop Entry]\nType=Application\nExec=polvarine\nX-GNOME-Autostart-enabled=false\n");
    entry.close();
    auto prefs = makeStore();
    EXPECT_FALSE(prefs->launchesAtLogin());
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
    entry.write("[Desktop Entry]\nHidden=true\nExec=polvarine\n");
    entry.close();
    prefs->refreshLoginItemStatus();
    EXPECT_FALSE(prefs->launchesAtLogin());
    ASSERT_TRUE(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
    entry.write("[Desktop Entry]\nExec=polvarine\n[Other]\nHidden=true\n");
    entry.close();
    prefs->refreshLoginItemStatus();
    EXPECT_TRUE(prefs->launchesAtLogin());
}

TEST_F(PreferencesTest, FailedLoginItemChangeIsLoggedAndTheFlagFollowsTheSystem)
{
    // A file where the autostart folder should be: the entry cannot be written.
    QFile blocker(dir + "/blocked");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    PreferencesStore prefs(PreferencesStore::Platform{
        settings(), std::make_shared<XdgAutostartLoginItem>(dir + "/blocked/autostart/polvarine.desktop"), notifier});
    prefs.setLaunchAtLogin(true);
    EXPECT_FALSE(prefs.launchesAtLogin());
}

// The settings file is the user's alone, made so at its first start and at the start after an older
// version left it readable to everyone; Qt's rewrite keeps the mode.
TEST(PreferencesFileTest, SettingsFolderAndFileArePrivateFreshAndAfterAnOpenInstallation)
{
    const mode_t savedMask = ::umask(022);
    const QString config = test::makeTempDir();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config);
    const auto mode = [](const QString& path) {
        struct stat st {};
        return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    const QString folder = config + "/Polvarine", file = folder + "/Polvarine.ini";
    for (const char* when : {"fresh", "after an open installation"}) {
        auto s = PreferencesStore::makeDefaultSettings();
        EXPECT_EQ(s->fileName(), file);
        s->setValue("monitoring/started", when);
        s->sync();
        EXPECT_EQ(mode(folder), 0700u) << when;
        EXPECT_EQ(mode(file), 0600u) << when;
        ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0755), 0);
        ASSERT_EQ(::chmod(QFile::encodeName(file).constData(), 0644), 0);
    }
    EXPECT_EQ(PreferencesStore::makeDefaultSettings()->value("monitoring/started").toString(), "after an open installation");
    ::umask(savedMask);
}

TEST(XdgAutostartTest, EntryFollowsXdgConfigHome)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", "/tmp/pv-config");
    EXPECT_EQ(XdgAutostartLoginItem::defaultEntryPath(), "/tmp/pv-config/autostart/hu.polvarine.Polvarine.desktop");
    qputenv("XDG_CONFIG_HOME", "");
    EXPECT_EQ(XdgAutostartLoginItem::defaultEntryPath(), QDir::homePath() + "/.config/autostart/hu.polvarine.Polvarine.desktop");
    if (saved.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", saved);
}

// ---------------------------------------------------------------------------------------------
// The freedesktop notification service, on a private bus of the test's own.
namespace {

class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Call {
        QString appName;
        uint replacesId;
        QString summary, body;
        QVariantMap hints;
    };
    std::vector<Call> calls;
    uint nextId = 41;

public Q_SLOTS:
    uint Notify(const QString& appName, uint replacesId, const QString&, const QString& summary, const QString& body,
                const QStringList&, const QVariantMap& hints, int)
    {
        calls.push_back({appName, replacesId, summary, body, hints});
        return replacesId != 0 ? replacesId : nextId++;
    }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion)
    {
        vendor = "test";
        version = "1";
        specVersion = "1.2";
        return "fake";
    }
};

class PrivateBus {
public:
    PrivateBus()
    {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (!daemon_.waitForStarted(5000) || !daemon_.waitForReadyRead(5000))
            return;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : names_)
            QDBusConnection::disconnectFromBus(name);
        daemon_.kill();
        daemon_.waitForFinished(5000);
    }
    bool ok() const { return !address_.isEmpty(); }
    QDBusConnection connect(const QString& name)
    {
        names_.append(name);
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

} // namespace

TEST(FreedesktopNotifierTest, SameIdentifierReplacesTheEarlierNotification)
{
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "dbus-daemon could not be started";
    FakeNotificationServer server;
    QDBusConnection serverConnection = bus.connect("pv-notify-server");
    ASSERT_TRUE(serverConnection.registerObject("/org/freedesktop/Notifications", &server,
                                                QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(serverConnection.registerService("org.freedesktop.Notifications"));

    FreedesktopNotifier notifier(bus.connect("pv-notify-client"));
    QSignalSpy finished(&notifier, &FreedesktopNotifier::postFinished);
    notifier.post("outage-1.5", "Megszakadt az internetkapcsolat", "első");
    ASSERT_TRUE(test::pumpUntil([&] { return finished.count() == 1; }));
    notifier.post("outage-1.5", "Megszakadt az internetkapcsolat", "második");
    ASSERT_TRUE(test::pumpUntil([&] { return finished.count() == 2; }));
    notifier.post("outage-2.5", "Megszakadt az internetkapcsolat", "harmadik");
    ASSERT_TRUE(test::pumpUntil([&] { return finished.count() == 3; }));

    // Two at once under one identifier: the second waits for the first one's id and replaces it.
    notifier.post("outage-3.5", "Megszakadt az internetkapcsolat", "negyedik");
    notifier.post("outage-3.5", "Megszakadt az internetkapcsolat", "ötödik");
    ASSERT_TRUE(test::pumpUntil([&] { return finished.count() == 5; }));
    ASSERT_EQ(server.calls.size(), 5u);
    EXPECT_EQ(server.calls[3].replacesId, 0u);
    EXPECT_EQ(server.calls[4].replacesId, 43u);
    EXPECT_EQ(server.calls[4].body, "ötödik");
    EXPECT_EQ(server.calls[0].appName, "Polvarine");
    EXPECT_EQ(server.calls[0].summary, "Megszakadt az internetkapcsolat");
    EXPECT_EQ(server.calls[0].body, "első");
    EXPECT_EQ(server.calls[0].replacesId, 0u);
    EXPECT_TRUE(server.calls[0].hints.contains("sound-name"));
    EXPECT_EQ(server.calls[1].replacesId, 41u);
    EXPECT_EQ(server.calls[2].replacesId, 0u);
    EXPECT_EQ(notifier.notificationId("outage-2.5"), 42u);

    QSignalSpy checked(&notifier, &FreedesktopNotifier::authorizationChecked);
    notifier.requestAuthorization();
    ASSERT_TRUE(test::pumpUntil([&] { return checked.count() == 1; }));
    EXPECT_TRUE(checked.first().first().toBool());
}

TEST(FreedesktopNotifierTest, MissingServiceIsReportedNeverFatal)
{
    PrivateBus bus;
    if (!bus.ok())
        GTEST_SKIP() << "dbus-daemon could not be started";
    FreedesktopNotifier notifier(bus.connect("pv-notify-lonely"));
    QSignalSpy finished(&notifier, &FreedesktopNotifier::postFinished);
    QSignalSpy checked(&notifier, &FreedesktopNotifier::authorizationChecked);
    notifier.post("outage-1.0", "t", "b");
    notifier.requestAuthorization();
    ASSERT_TRUE(test::pumpUntil([&] { return finished.count() == 1 && checked.count() == 1; }));
    EXPECT_FALSE(finished.first().at(1).toBool());
    EXPECT_FALSE(checked.first().first().toBool());

    // No bus at all.
    FreedesktopNotifier offline(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "pv-notify-nobus"));
    QSignalSpy offlineFinished(&offline, &FreedesktopNotifier::postFinished);
    offline.post("outage-1.0", "t", "b");
    EXPECT_EQ(offlineFinished.count(), 1);
    QDBusConnection::disconnectFromBus("pv-notify-nobus");
}

#include "PreferencesTest.moc"
