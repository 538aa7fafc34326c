#include "core/app/UpdateChecker.h"

#include "tests/app/LocalHttpServer.h"
#include "tests/support/TestSupport.h"

#include <QTcpSocket>

#include <gtest/gtest.h>

#include <mutex>

using namespace pv;

namespace {

// Collects the update category's log lines while alive.
class UpdateLogCapture {
public:
    UpdateLogCapture()
    {
        std::lock_guard lock(mutex());
        lines().clear();
        previous_ = qInstallMessageHandler(&UpdateLogCapture::handle);
    }
    ~UpdateLogCapture() { qInstallMessageHandler(previous_); }
    QStringList taken() const
    {
        std::lock_guard lock(mutex());
        return lines();
    }

private:
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message)
    {
        if (context.category != nullptr && QByteArray(context.category) == "com.tovarhelm.polvarine.update") {
            std::lock_guard lock(mutex());
            lines().append(message);
        }
    }
    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static QStringList& lines()
    {
        static QStringList l;
        return l;
    }
    QtMessageHandler previous_ = nullptr;
};

std::optional<AvailableUpdate> runCheck(UpdateChecker& checker)
{
    bool done = false;
    std::optional<AvailableUpdate> result;
    asio::co_spawn(
        rt::QtExecutor(),
        [&]() -> rt::awaitable<void> {
            result = co_await checker.check();
            done = true;
        },
        asio::detached);
    EXPECT_TRUE(test::pumpUntil([&] { return done; }, std::chrono::seconds(15)));
    return result;
}

QByteArray feedJson(const char* version, const char* url, bool withNotes = true, bool withMinimum = true)
{
    QByteArray text = "{\"version\":\"" + QByteArray(version) + "\",\"url\":\"" + QByteArray(url) + "\"";
    if (withNotes)
        text += ",\"notes\":\"Javítások\"";
    if (withMinimum)
        text += ",\"minimumSystemVersion\":\"12\"";
    return text + ",\"extra\":[1,2]}";
}

} // namespace

TEST(UpdateVersionTest, ComparesDottedNumbers)
{
    EXPECT_TRUE(UpdateChecker::isNewer("1.10", "1.9"));
    EXPECT_FALSE(UpdateChecker::isNewer("1.9", "1.10"));
    EXPECT_FALSE(UpdateChecker::isNewer("1.2", "1.2.0"));
    EXPECT_FALSE(UpdateChecker::isNewer("1.2.0", "1.2"));
    EXPECT_TRUE(UpdateChecker::isNewer("2", "1.99.99"));
    EXPECT_TRUE(UpdateChecker::isNewer("0.1", "0"));
    EXPECT_TRUE(UpdateChecker::isNewer("1", "0"));
    EXPECT_FALSE(UpdateChecker::isNewer("0", "0"));
    EXPECT_FALSE(UpdateChecker::isNewer("", ""));
    // Empty components vanish; a component that is not a whole number counts as 0.
    EXPECT_FALSE(UpdateChecker::isNewer("1..2", "1.2"));
    EXPECT_FALSE(UpdateChecker::isNewer("1.2b", "1.0"));
    EXPECT_TRUE(UpdateChecker::isNewer("1.1", "1.2b"));
    // Signs are read; an overflowing component is 0.
    EXPECT_TRUE(UpdateChecker::isNewer("+2", "1"));
    EXPECT_FALSE(UpdateChecker::isNewer("-2", "0"));
    EXPECT_FALSE(UpdateChecker::isNewer("99999999999999999999", "1"));
    EXPECT_TRUE(UpdateChecker::isNewer("9223372036854775807", "9223372036854775806"));
}

TEST(UpdateVersionTest, DownloadLinkMustBeLowerCaseHttpsAsWritten)
{
    EXPECT_EQ(UpdateChecker::secureDownloadURL("https://example.org/dl"), QUrl("https://example.org/dl"));
    EXPECT_FALSE(UpdateChecker::secureDownloadURL("http://example.org/dl"));
    EXPECT_FALSE(UpdateChecker::secureDownloadURL("HTTPS://example.org/dl"));
    EXPECT_FALSE(UpdateChecker::secureDownloadURL("Https://example.org/dl"));
    EXPECT_FALSE(UpdateChecker::secureDownloadURL("example.org/dl"));
    EXPECT_FALSE(UpdateChecker::secureDownloadURL("https://exa mple.org/dl"));
    EXPECT_FALSE(UpdateChecker::secureDownloadURL(""));
}

TEST(UpdateFeedTest, DecodesStrictly)
{
    const auto feed = UpdateChecker::Feed::decode(feedJson("1.2", "https://x/y", true, false));
    EXPECT_EQ(feed.version, "1.2");
    EXPECT_EQ(feed.notes, "Javítások");
    EXPECT_FALSE(feed.minimumSystemVersion);
    EXPECT_EQ(UpdateChecker::Feed::decode(feedJson("1.2", "https://x/y")).minimumSystemVersion, QString("12"));
    EXPECT_THROW(UpdateChecker::Feed::decode(feedJson("1.2", "https://x/y", false)), std::exception);
    EXPECT_THROW(UpdateChecker::Feed::decode(R"({"version":2,"notes":"n","url":"https://x"})"), std::exception);
    EXPECT_THROW(UpdateChecker::Feed::decode(R"({"version":null,"notes":"n","url":"https://x"})"), std::exception);
    EXPECT_THROW(UpdateChecker::Feed::decode(R"({"version":"2","notes":"n","url":"https://x","minimumSystemVersion":12})"),
                 std::exception);
    EXPECT_THROW(UpdateChecker::Feed::decode(R"(["version"])"), std::exception);
    EXPECT_THROW(UpdateChecker::Feed::decode("{\"version\":\"2\""), std::exception);
}

TEST(UpdateCheckTest, OffersANewerVersionWithASecureLink)
{
    test::LocalHttpServer server;
    server.respond(200, feedJson("1.3", "https://polvarine.example/download"));
    UpdateChecker checker(QUrl(server.url("/appcast.json")), "1.2.9");
    UpdateLogCapture logs;
    const auto update = runCheck(checker);
    ASSERT_TRUE(update);
    EXPECT_EQ(update->version, "1.3");
    EXPECT_EQ(update->notes, "Javítások");
    EXPECT_EQ(update->downloadURL, QUrl("https://polvarine.example/download"));
    ASSERT_EQ(server.requestCount(), 1);
    const QByteArray head = server.requests().first();
    EXPECT_TRUE(head.startsWith("GET /appcast.json HTTP/1.1")) << head.constData();
    EXPECT_TRUE(head.contains("Cache-Control: no-cache")) << head.constData();
    EXPECT_TRUE(logs.taken().contains("Update available: 1.3")) << logs.taken().join('|').toStdString();
}

TEST(UpdateCheckTest, EveryOtherAnswerGivesNothing)
{
    test::LocalHttpServer server;
    UpdateChecker checker(QUrl(server.url("/appcast.json")), "1.3");

    server.respond(200, feedJson("1.3", "https://x/y")); // same version
    EXPECT_FALSE(runCheck(checker));
    server.respond(200, feedJson("1.2.9", "https://x/y")); // older
    EXPECT_FALSE(runCheck(checker));
    server.respond(200, feedJson("1.4", "http://x/y")); // newer, but not a secure link
    EXPECT_FALSE(runCheck(checker));
    server.respond(200, feedJson("1.4", "HTTPS://x/y"));
    EXPECT_FALSE(runCheck(checker));
    server.respond(200, feedJson("1.4", "https://x/y", false)); // no notes
    EXPECT_FALSE(runCheck(checker));
    EXPECT_EQ(server.requestCount(), 5);
}

TEST(UpdateCheckTest, StatusOtherThan200IsSilentWhileDecodeAndNetworkFailuresAreLogged)
{
    test::LocalHttpServer server;
    UpdateChecker checker(QUrl(server.url("/appcast.json")), "1.0");
    {
        UpdateLogCapture logs;
        server.respond(304, {});
        EXPECT_FALSE(runCheck(checker));
        server.respond(500, feedJson("9.0", "https://x/y"));
        EXPECT_FALSE(runCheck(checker));
        EXPECT_TRUE(logs.taken().isEmpty()) << logs.taken().join('|').toStdString();
    }
    {
        UpdateLogCapture logs;
        server.respond(200, "{\"version\": \"9.0\", \"notes\": ");
        EXPECT_FALSE(runCheck(checker));
        ASSERT_EQ(logs.taken().size(), 1);
        EXPECT_TRUE(logs.taken().first().startsWith("Update check failed: "));
    }
    {
        // A port held bound but not listening: refused, and no other program can take it meanwhile.
        QTcpSocket probe;
        ASSERT_TRUE(probe.bind(QHostAddress::LocalHost, 0));
        const quint16 port = probe.localPort();
        UpdateChecker unreachable(QUrl(QStringLiteral("http://127.0.0.1:%1/appcast.json").arg(port)), "1.0");
        UpdateLogCapture logs;
        EXPECT_FALSE(runCheck(unreachable));
        ASSERT_EQ(logs.taken().size(), 1);
        EXPECT_TRUE(logs.taken().first().startsWith("Update check failed: "));
    }
}

TEST(UpdateCheckTest, OversizedFeedIsRefused)
{
    test::LocalHttpServer server;
    QByteArray huge = feedJson("9.0", "https://x/y");
    huge.insert(1, "\"pad\":\"" + QByteArray(2 << 20, 'a') + "\",");
    server.respond(200, huge);
    UpdateChecker checker(QUrl(server.url("/appcast.json")), "1.0");
    EXPECT_FALSE(runCheck(checker));
}

TEST(UpdateFeedConfigurationTest, EnvironmentNamesTheFeedAndAnythingUnusableMeansNone)
{
    const QByteArray saved = qgetenv("POLVARINE_UPDATE_FEED");
    const struct {
        const char* environment; // nullptr: unset
        std::optional<QUrl> expected;
    } cases[] = {
        {nullptr, std::nullopt}, // this build names no feed
        {"", std::nullopt},
        {"   ", std::nullopt},
        {"https://feed.example/appcast.json", QUrl("https://feed.example/appcast.json")},
        {" http://10.1.2.3:8080/appcast.json ", QUrl("http://10.1.2.3:8080/appcast.json")},
        {"ftp://feed.example/appcast.json", std::nullopt},
        {"not a url", std::nullopt},
        {"https://", std::nullopt},
        {"/appcast.json", std::nullopt},
    };
    for (const auto& c : cases) {
        if (c.environment)
            qputenv("POLVARINE_UPDATE_FEED", c.environment);
        else
            qunsetenv("POLVARINE_UPDATE_FEED");
        EXPECT_EQ(configuredUpdateFeedUrl(), c.expected) << (c.environment ? c.environment : "(unset)");
    }
    if (saved.isNull())
        qunsetenv("POLVARINE_UPDATE_FEED");
    else
        qputenv("POLVARINE_UPDATE_FEED", saved);
}

TEST(UpdateCheckTest, WithoutAFeedNothingIsAskedOrLogged)
{
    UpdateChecker checker(QUrl(), "1.0");
    UpdateLogCapture logs;
    EXPECT_FALSE(runCheck(checker));
    EXPECT_TRUE(logs.taken().isEmpty()) << logs.taken().join('|').toStdString();
}
