#include "core/probes/WifiSnapshotProvider.h"

#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>

#include <gtest/gtest.h>

#include <mutex>

using namespace pv;

namespace {

void writeFile(const QString& path, const QByteArray& content)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << qPrintable(path);
    f.write(content);
}

// Counts the lines logged in the Wi-Fi category while it lives.
class WifiLogCounter {
public:
    WifiLogCounter()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("com.tovarhelm.polvarine.wifi.*=true"));
        count() = 0;
        previous_ = qInstallMessageHandler(&WifiLogCounter::handler);
    }
    ~WifiLogCounter() { qInstallMessageHandler(previous_); }
    int lines() const { return count(); }
    QString lastLine() const { return last(); }

private:
    static int& count()
    {
        static int n = 0;
        return n;
    }
    static QString& last()
    {
        static QString text;
        return text;
    }
    static void handler(QtMsgType, const QMessageLogContext& ctx, const QString& message)
    {
        if (ctx.category != nullptr && QByteArray(ctx.category) == "com.tovarhelm.polvarine.wifi") {
            ++count();
            last() = message;
        }
    }
    QtMessageHandler previous_;
};

bool machineHasWifi() { return !QDir(QStringLiteral("/sys/class/ieee80211")).isEmpty(QDir::Dirs | QDir::NoDotAndDotDot); }

} // namespace

TEST(WifiRadioState, PoweredWhenUpAndNoRfkillSwitchIsBlocked)
{
    const QString root = test::makeTempDir();
    QDir dir(root);
    ASSERT_TRUE(dir.mkpath("wlan0/phy80211/rfkill2"));
    writeFile(root + "/wlan0/flags", "0x1003\n");
    writeFile(root + "/wlan0/phy80211/rfkill2/soft", "0\n");
    writeFile(root + "/wlan0/phy80211/rfkill2/hard", "0\n");
    EXPECT_TRUE(wifi::radioPoweredOn("wlan0", root));

    writeFile(root + "/wlan0/phy80211/rfkill2/soft", "1\n"); // airplane mode
    EXPECT_FALSE(wifi::radioPoweredOn("wlan0", root));
    writeFile(root + "/wlan0/phy80211/rfkill2/soft", "0\n");
    writeFile(root + "/wlan0/phy80211/rfkill2/hard", "1\n"); // the hardware switch
    EXPECT_FALSE(wifi::radioPoweredOn("wlan0", root));

    // Administratively down; no rfkill entry at all is not a block.
    ASSERT_TRUE(dir.mkpath("wlan1"));
    writeFile(root + "/wlan1/flags", "0x1002\n");
    EXPECT_FALSE(wifi::radioPoweredOn("wlan1", root));
    writeFile(root + "/wlan1/flags", "0x1003\n");
    EXPECT_TRUE(wifi::radioPoweredOn("wlan1", root));

    EXPECT_FALSE(wifi::radioPoweredOn("gone0", root));
}

TEST(WifiSnapshotBuild, NamesAndRouteFallbacks)
{
    wifi::WifiReading r;
    r.interface.name = "en1";
    WifiSnapshot s = wifi::makeSnapshot(r, std::nullopt, 7.0);
    EXPECT_EQ(s.interfaceName, QStringLiteral("en1"));
    EXPECT_EQ(s.localAddress, QStringLiteral("Unknown"));
    EXPECT_EQ(s.gatewayAddress, QStringLiteral("Unknown"));

    // An interface without a name: the made-up route's "en0" names the snapshot.
    r.interface.name.clear();
    EXPECT_EQ(wifi::makeSnapshot(r, std::nullopt, 7.0).interfaceName, QStringLiteral("en0"));
    // ... and with a route given, the route's interface.
    s = wifi::makeSnapshot(r, RouteSnapshot{1.0, "wlp2s0", "10.0.0.5", "10.0.0.1"}, 7.0);
    EXPECT_EQ(s.interfaceName, QStringLiteral("wlp2s0"));
    EXPECT_EQ(s.localAddress, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(s.gatewayAddress, QStringLiteral("10.0.0.1"));

    // Every reading gets its own identity.
    EXPECT_NE(wifi::makeSnapshot(r, std::nullopt, 7.0).id, wifi::makeSnapshot(r, std::nullopt, 7.0).id);
}

TEST(WifiProviderOnThisMachine, NoInterfaceIsReportedOnceNotAtEveryReading)
{
    if (machineHasWifi())
        GTEST_SKIP() << "this machine has a wireless device";
    WifiLogCounter log;
    WiFiSnapshotProvider provider;
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(provider.readSnapshot(std::nullopt));

    // The awaited form, from another executor, gives the same.
    asio::io_context io;
    auto future = asio::co_spawn(
        io, [&]() -> rt::awaitable<std::optional<WifiSnapshot>> { co_return co_await provider.currentSnapshot(std::nullopt); },
        asio::use_future);
    io.run();
    EXPECT_FALSE(future.get());
    EXPECT_EQ(log.lines(), 1);
    EXPECT_TRUE(log.lastLine().startsWith(QLatin1String("No Wi-Fi interface: "))) << qPrintable(log.lastLine());
}
