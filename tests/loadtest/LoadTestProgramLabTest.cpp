// The real program under Xvfb in the network lab, with the lab's speed-test server behind the shaped
// (bloated) router: the load test is started from the dashboard with the mouse (xdotool), runs to its
// end and shows its grade; the `load_tests` row and the marker are stored, and monitoring resumes
// (its pause and resume events are in the database, in order).

#include "tests/lab/LabEnv.h"
#include "tests/loadtest/ShapedLab.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;

QString query(const QString& db, const QString& sql)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-readonly"), db, sql});
    if (!sqlite.waitForFinished(10000))
        return {};
    return QString::fromUtf8(sqlite.readAllStandardOutput()).trimmed();
}

struct Xvfb {
    QProcess process;
    QString display;
    bool start()
    {
        process.start(QStringLiteral("Xvfb"), {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                                               QStringLiteral("0"), QStringLiteral("1440x900x24"),
                                               QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!process.waitForStarted(5000))
            return false;
        pv::test::pumpUntil([&] { return process.canReadLine() || process.state() != QProcess::Running; }, 10s);
        const QString number = QString::fromLatin1(process.readLine()).trimmed();
        display = number.isEmpty() ? QString() : QLatin1Char(':') + number;
        return !display.isEmpty();
    }
    ~Xvfb()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
    }
};

class Screen {
public:
    explicit Screen(QString display) : display_(std::move(display)) {}

    bool run(const QString& program, const QStringList& args) const
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display_);
        p.setProcessEnvironment(env);
        p.start(program, args);
        return p.waitForFinished(15000) && p.exitCode() == 0;
    }
    QImage grab(const QString& path) const
    {
        run(QStringLiteral(PV_GRAB_BIN), {path});
        return QImage(path);
    }
    bool click(QPoint at) const
    {
        return run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QString::number(at.x()),
                                               QString::number(at.y()), QStringLiteral("click"), QStringLiteral("1")});
    }

private:
    QString display_;
};

// The centre of the largest area in the accent's saturated blue: the prominent button on screen.
std::optional<QPoint> prominentButton(const QImage& image)
{
    const int w = image.width(), h = image.height();
    std::vector<int> label(static_cast<std::size_t>(w * h), 0);
    const auto isAccent = [&](int x, int y) {
        const QColor c = image.pixelColor(x, y);
        return c.hsvSaturation() > 140 && c.value() > 140 && c.blue() > c.red() + 60 && c.blue() > c.green() + 20;
    };
    int bestCount = 0;
    QRect best;
    int next = 0;
    std::vector<QPoint> stack;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (label[y * w + x] != 0 || !isAccent(x, y))
                continue;
            ++next;
            int count = 0;
            QRect box(x, y, 1, 1);
            stack.assign(1, QPoint(x, y));
            label[y * w + x] = next;
            while (!stack.empty()) {
                const QPoint p = stack.back();
                stack.pop_back();
                ++count;
                box = box.united(QRect(p, QSize(1, 1)));
                for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                    const QPoint q = p + d;
                    if (q.x() < 0 || q.y() < 0 || q.x() >= w || q.y() >= h || label[q.y() * w + q.x()] != 0 ||
                        !isAccent(q.x(), q.y()))
                        continue;
                    label[q.y() * w + q.x()] = next;
                    stack.push_back(q);
                }
            }
            if (count > bestCount) {
                bestCount = count;
                best = box;
            }
        }
    if (bestCount < 1500)
        return std::nullopt;
    return best.center();
}

TEST(LoadTestProgramLab, ATestStartedFromTheDashboardIsGradedStoredAndMonitoringResumes)
{
    auto lab = pv::lab::LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "xdotool is not installed";
    const QString tmp = pv::test::makeTempDir();
    ::chmod(QFile::encodeName(tmp).constData(), 0700);
    const QString source = qEnvironmentVariable("PV_SOURCE_DIR", QStringLiteral(PV_TEST_SOURCE_DIR));

    // The lab's DNS answers every name with the services address, where the check page is served.
    const QString ready = tmp + QStringLiteral("/ready");
    for (const auto& [script, port] : {std::pair{"dns_server.py", "53"}, std::pair{"http_server.py", "80"}}) {
        QStringList argv{QStringLiteral("python3"), source + QStringLiteral("/tests/lab/servers/") + QLatin1String(script),
                         QStringLiteral("--bind"), lab->servicesAddr, QStringLiteral("--port"), QLatin1String(port),
                         QStringLiteral("--port-file"), ready + QLatin1String(port), QStringLiteral("--lifetime"),
                         QStringLiteral("300")};
        if (QLatin1String(port) == QLatin1String("53"))
            argv << QStringLiteral("--mode") << QStringLiteral("answer") << QStringLiteral("--address") << lab->servicesAddr;
        ASSERT_GT(lab->startInNamespace(lab->inetNs, argv), 0);
    }
    pv::test::ShapedLab shaped(*lab, source);
    const QString speedtest = shaped.startServer();
    ASSERT_FALSE(speedtest.isEmpty());
    ASSERT_TRUE(pv::test::pumpUntil([&] { return QFile::exists(ready + "53") && QFile::exists(ready + "80"); }, 60s));
    ASSERT_TRUE(shaped.shape(QStringLiteral("500ms")));

    Xvfb xvfb;
    ASSERT_TRUE(xvfb.start());
    const QString db = tmp + QStringLiteral("/data/polvarine.sqlite3");
    QDir().mkpath(tmp + QStringLiteral("/data"));
    QDir().mkpath(tmp + QStringLiteral("/run"));
    ::chmod(QFile::encodeName(tmp + QStringLiteral("/run")).constData(), 0700);
    {
        QSettings settings(tmp + QStringLiteral("/config/Polvarine/Polvarine.ini"), QSettings::IniFormat);
        settings.setValue(QStringLiteral("workspace.didWelcome"), true);
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("WAYLAND_DISPLAY"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    env.insert(QStringLiteral("DISPLAY"), xvfb.display);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("HOME"), tmp);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), tmp + QStringLiteral("/config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), tmp + QStringLiteral("/data"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmp + QStringLiteral("/run"));
    env.insert(QStringLiteral("POLVARINE_DB"), db);
    env.insert(QStringLiteral("POLVARINE_SPEEDTEST_URL"), speedtest);
    env.insert(QStringLiteral("POLVARINE_UPDATE_FEED"), QStringLiteral("http://%1/appcast.json").arg(lab->servicesAddr));
    QProcess app;
    app.setProcessEnvironment(env);
    app.setStandardOutputFile(tmp + QStringLiteral("/polvarine.log"));
    app.start(QStringLiteral(PV_POLVARINE_BIN), {});
    ASSERT_TRUE(app.waitForStarted(5000));
    ASSERT_TRUE(pv::test::pumpUntil(
        [&] { return app.state() != QProcess::Running || query(db, "SELECT COUNT(*) FROM network_samples").toInt() > 0; },
        30s));
    ASSERT_EQ(app.state(), QProcess::Running);

    // Scroll the dashboard down to the speed section and press its button, then the screen's own.
    const Screen screen(xvfb.display);
    ASSERT_TRUE(screen.run(QStringLiteral("xdotool"), {QStringLiteral("mousemove"), QStringLiteral("700"), QStringLiteral("500")}));
    for (int i = 0; i < 15; ++i)
        screen.run(QStringLiteral("xdotool"), {QStringLiteral("click"), QStringLiteral("5")});
    pv::test::pumpUntil([] { return false; }, 1s);
    const auto dashboardButton = prominentButton(screen.grab(tmp + QStringLiteral("/dashboard.png")));
    ASSERT_TRUE(dashboardButton) << "no start button on the dashboard";
    ASSERT_TRUE(screen.click(*dashboardButton));
    pv::test::pumpUntil([] { return false; }, 2s);
    const auto startButton = prominentButton(screen.grab(tmp + QStringLiteral("/sheet.png")));
    ASSERT_TRUE(startButton) << "no start button on the sheet";
    ASSERT_TRUE(screen.click(*startButton));

    ASSERT_TRUE(pv::test::pumpUntil([&] { return query(db, "SELECT COUNT(*) FROM load_tests") == "1"; }, 120s))
        << "no load test stored";
    pv::test::pumpUntil([] { return false; }, 2s);
    QDir().mkpath(QStringLiteral(PV_SCREENS_DIR));
    screen.grab(QStringLiteral(PV_SCREENS_DIR "/loadtest-program-result.png"));
    const QString grade = query(db, "SELECT grade FROM load_tests");
    EXPECT_TRUE(grade == "poor" || grade == "severe") << grade.toStdString();

    // Pause, resume, marker, in this order; and probing again after the test.
    ASSERT_TRUE(pv::test::pumpUntil(
        [&] { return query(db, "SELECT COUNT(*) FROM events WHERE kind = 'markerAdded'").toInt() >= 1; }, 10s));
    const QString kinds = query(db, "SELECT group_concat(kind, ',') FROM (SELECT kind FROM events WHERE kind IN "
                                    "('monitoringStopped','monitoringStarted','markerAdded') ORDER BY timestamp, rowid)");
    EXPECT_TRUE(kinds.endsWith(QStringLiteral("monitoringStopped,monitoringStopped,monitoringStarted,monitoringStarted,"
                                              "markerAdded")))
        << kinds.toStdString();
    EXPECT_TRUE(pv::test::pumpUntil(
        [&] {
            return query(db, "SELECT COUNT(*) FROM network_samples WHERE timestamp > (SELECT started_at + 40 FROM load_tests)")
                       .toInt() > 0;
        },
        30s))
        << "monitoring did not resume";

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    EXPECT_TRUE(app.waitForFinished(15000));
}

} // namespace
