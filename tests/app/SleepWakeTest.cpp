// logind's sleep signal and delay inhibitor, against a stand-in for logind on a private bus.

#include "core/app/SleepWake.h"

#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

using namespace pv;

namespace {

const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");

// Hands out the write end of a pipe per inhibitor: the read end sees a hang-up once every copy of
// the write end is closed, which is how logind notices a released inhibitor.
class FakeLogin1 : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public:
    ~FakeLogin1() override
    {
        for (int fd : readEnds)
            ::close(fd);
    }
    std::vector<int> readEnds;
    QStringList modes;

    bool released(std::size_t i) const
    {
        pollfd p{readEnds.at(i), POLLIN, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why, const QString& mode)
    {
        Q_UNUSED(who);
        Q_UNUSED(why);
        modes << what + "/" + mode;
        int fds[2];
        if (::pipe(fds) != 0)
            return {};
        readEnds.push_back(fds[0]);
        QDBusUnixFileDescriptor writeEnd(fds[1]); // duplicates
        ::close(fds[1]);
        return writeEnd;
    }
};

// Counts PrepareForSleep on the monitor's own connection. A signal is handed to every receiver on
// a connection in one pass, so once this one has seen it the monitor has been offered it too.
class SignalSentinel : public QObject {
    Q_OBJECT
public:
    int seen = 0;
public Q_SLOTS:
    void onPrepareForSleep(bool) { ++seen; }
};

class SleepWakeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = test::makeTempDir();
        daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1", "--address=unix:path=" + dir + "/bus"});
        if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000))
            GTEST_SKIP() << "dbus-daemon is not available";
        address = QString::fromUtf8(daemon.readLine()).trimmed();
        service = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, "login1-" + dir));
        ASSERT_TRUE(service->isConnected());
        ASSERT_TRUE(service->registerService("org.freedesktop.login1"));
        ASSERT_TRUE(service->registerObject(kPath, &logind, QDBusConnection::ExportAllSlots));
    }
    void TearDown() override
    {
        if (service) {
            service->unregisterObject(kPath);
            QDBusConnection::disconnectFromBus(service->name());
        }
        // The connection is torn down on the D-Bus thread, later: it must not find the fake (still
        // connected to it) while the fixture destroys the fake on this thread.
        QObject::disconnect(&logind, nullptr, nullptr, nullptr);
        daemon.kill();
        daemon.waitForFinished(2000);
    }
    void prepareForSleep(bool going)
    {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, "PrepareForSleep");
        signal << going;
        ASSERT_TRUE(service->send(signal));
    }
    // Sends the signal and returns once the client connection has dispatched it, so that whatever
    // the monitor was going to do with it has been done.
    void prepareForSleepAndSettle(bool going)
    {
        const int before = sentinel.seen;
        prepareForSleep(going);
        ASSERT_TRUE(test::pumpUntil([&] { return sentinel.seen > before; }));
        QCoreApplication::processEvents();
    }

    QString dir;
    QString address;
    QProcess daemon;
    FakeLogin1 logind;
    SignalSentinel sentinel;
    std::unique_ptr<QDBusConnection> service;
};

} // namespace

TEST_F(SleepWakeTest, HoldsADelayInhibitorReleasesItAfterTheSleepEventAndTakesItAgainOnWake)
{
    QDBusConnection client = QDBusConnection::connectToBus(address, "client-" + dir);
    ASSERT_TRUE(client.connect("org.freedesktop.login1", kPath, kInterface, "PrepareForSleep", &sentinel,
                               SLOT(onPrepareForSleep(bool))));
    // A round trip on the same connection: the bus has the subscription before anything is sent.
    ASSERT_TRUE(client.interface()->isServiceRegistered("org.freedesktop.login1").value());
    LogindSleepMonitor monitor(client);
    QSignalSpy sleeps(&monitor, &SleepWakeSource::aboutToSleep);
    QSignalSpy wakes(&monitor, &SleepWakeSource::wokeUp);

    prepareForSleepAndSettle(true); // not listening yet
    monitor.activate();
    monitor.activate();
    ASSERT_TRUE(test::pumpUntil([&] { return monitor.holdsInhibitor(); }));
    EXPECT_EQ(logind.modes, QStringList{"sleep/delay"});
    EXPECT_EQ(sleeps.count(), 0);

    prepareForSleep(true);
    ASSERT_TRUE(test::pumpUntil([&] { return sleeps.count() == 1; }));
    EXPECT_TRUE(monitor.holdsInhibitor()) << "held until the event is recorded";
    EXPECT_FALSE(logind.released(0));
    monitor.sleepRecorded();
    ASSERT_TRUE(test::pumpUntil([&] { return !monitor.holdsInhibitor(); }));
    EXPECT_TRUE(logind.released(0));

    prepareForSleep(false);
    ASSERT_TRUE(test::pumpUntil([&] { return wakes.count() == 1 && monitor.holdsInhibitor(); }));
    EXPECT_EQ(logind.modes.size(), 2);

    monitor.deactivate();
    EXPECT_FALSE(monitor.holdsInhibitor());
    EXPECT_TRUE(logind.released(1));
    prepareForSleepAndSettle(true);
    EXPECT_EQ(sleeps.count(), 1) << "nothing is delivered once deactivated";
}

TEST(SleepWakeWithoutBus, AMissingBusIsNeverAnError)
{
    LogindSleepMonitor monitor(QDBusConnection::connectToBus("unix:path=/nonexistent/bus", "nobus"));
    monitor.activate();
    monitor.sleepRecorded();
    monitor.deactivate();
    EXPECT_FALSE(monitor.holdsInhibitor());
}

#include "SleepWakeTest.moc"
