// The real program under Xvfb in the network lab's client namespace makes a dossier of its own
// minutes of data through the dossier screen: the user's localised desktop folder (missing at
// first) gets the PDF, which pdfinfo opens.

#include "tests/lab/LabEnv.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
using pv::lab::LabEnv;

QString sourceFile(const QString& relative)
{
    return qEnvironmentVariable("PV_SOURCE_DIR", QStringLiteral(PV_SOURCE_ROOT)) + QLatin1Char('/') + relative;
}

QString run(const QString& program, const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    p.waitForFinished(20000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

struct Xvfb {
    QProcess process;
    QString display;
    bool start()
    {
        process.start("Xvfb", {"-displayfd", "1", "-screen", "0", "1440x900x24", "-nolisten", "tcp"});
        if (!process.waitForStarted(5000))
            return false;
        pv::test::pumpUntil([&] { return process.canReadLine() || process.state() != QProcess::Running; }, 10s);
        const QString number = QString::fromLatin1(process.readLine()).trimmed();
        display = ":" + number;
        return !number.isEmpty();
    }
    ~Xvfb()
    {
        process.terminate();
        if (!process.waitForFinished(3000))
            process.kill();
        process.waitForFinished(1000);
    }
};

TEST(DossierLab, TheProgramMakesADossierOfItsOwnMinutesThroughTheScreen)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    const QString tmp = pv::test::makeTempDir();
    ::chmod(QFile::encodeName(tmp).constData(), 0700);
    const QString dnsReady = tmp + "/dns.port", httpReady = tmp + "/http.port";
    ASSERT_GT(lab->startInNamespace(lab->inetNs, {"python3", sourceFile("tests/lab/servers/dns_server.py"), "--bind",
                                                  lab->servicesAddr, "--port", "53", "--mode", "answer", "--address",
                                                  lab->servicesAddr, "--port-file", dnsReady, "--lifetime", "200"}),
              0);
    ASSERT_GT(lab->startInNamespace(lab->inetNs, {"python3", sourceFile("tests/lab/servers/http_server.py"), "--bind",
                                                  lab->servicesAddr, "--port", "80", "--port-file", httpReady,
                                                  "--lifetime", "200"}),
              0);
    ASSERT_TRUE(pv::test::pumpUntil([&] { return QFile::exists(dnsReady) && QFile::exists(httpReady); }, 15s));

    Xvfb xvfb;
    ASSERT_TRUE(xvfb.start());
    QDir().mkpath(tmp + "/data");
    QDir().mkpath(tmp + "/run");
    ::chmod(QFile::encodeName(tmp + "/run").constData(), 0700);
    QDir().mkpath(tmp + "/config");
    {
        // A Hungarian desktop: the XDG desktop folder is "Asztal", and it does not exist yet.
        QFile dirs(tmp + "/config/user-dirs.dirs");
        ASSERT_TRUE(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_DESKTOP_DIR=\"$HOME/Asztal\"\n");
        QSettings settings(tmp + "/config/Polvarine/Polvarine.ini", QSettings::IniFormat);
        settings.setValue("workspace.didWelcome", true);
        settings.setValue("workspace.lastSection", "dossier"); // the window opens on the dossier screen
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove("WAYLAND_DISPLAY");
    env.remove("DBUS_SESSION_BUS_ADDRESS");
    env.insert("DISPLAY", xvfb.display);
    env.insert("QT_QPA_PLATFORM", "xcb");
    env.insert("HOME", tmp);
    env.insert("XDG_CONFIG_HOME", tmp + "/config");
    env.insert("XDG_DATA_HOME", tmp + "/data");
    env.insert("XDG_RUNTIME_DIR", tmp + "/run");
    env.insert("POLVARINE_DB", tmp + "/data/polvarine.sqlite3");
    env.insert("POLVARINE_UPDATE_FEED", QStringLiteral("http://%1/appcast.json").arg(lab->servicesAddr));
    QProcess app;
    app.setProcessEnvironment(env);
    app.setStandardOutputFile(tmp + "/polvarine.log");
    app.setStandardErrorFile(tmp + "/polvarine.log", QIODevice::Append);
    app.start(PV_POLVARINE_BIN, {});
    ASSERT_TRUE(app.waitForStarted(5000));

    // A minute of its own measurements.
    pv::test::pumpUntil([&] { return app.state() != QProcess::Running; }, 60s);
    ASSERT_EQ(app.state(), QProcess::Running);

    QProcessEnvironment x = QProcessEnvironment::systemEnvironment();
    x.insert("DISPLAY", xvfb.display);
    const QString window = run("xdotool", {"search", "--onlyvisible", "--name", "^Polvarine$"}, x).section('\n', 0, 0);
    ASSERT_FALSE(window.isEmpty()) << "no window";
    const QString geometry = run("xdotool", {"getwindowgeometry", "--shell", window}, x);
    auto field = [&](const QString& name) {
        for (const QString& line : geometry.split('\n'))
            if (line.startsWith(name + "="))
                return line.mid(name.size() + 1).toInt();
        return -1;
    };
    // The create button: the first button of the settings card, below the picker and the switch.
    const int clickX = field("X") + PV_CREATE_BUTTON_X, clickY = field("Y") + PV_CREATE_BUTTON_Y;
    std::printf("window geometry: %s\n", qPrintable(QString(geometry).replace(QLatin1Char('\n'), QLatin1Char(' '))));
    run("xdotool", {"mousemove", "--sync", QString::number(clickX), QString::number(clickY)}, x);
    run("xdotool", {"click", "1"}, x);

    const QString desktop = tmp + "/Asztal";
    QString pdf;
    pv::test::pumpUntil(
        [&] {
            const QStringList found = QDir(desktop).entryList({"Polvarine-meresi-dosszie-*.pdf"}, QDir::Files);
            if (!found.isEmpty())
                pdf = desktop + "/" + found.front();
            return !pdf.isEmpty();
        },
        30s);
    QDir().mkpath(PV_SCREENS_DIR);
    run(PV_GRAB_BIN, {PV_SCREENS_DIR "/lab-dossier.png"}, x);
    ASSERT_FALSE(pdf.isEmpty()) << "no dossier on the desktop; see " PV_SCREENS_DIR "/lab-dossier.png";
    pv::test::pumpUntil([] { return false; }, 1s); // the rename is the last step; let the screen settle
    const QString info = run("pdfinfo", {pdf});
    EXPECT_TRUE(info.contains("Author:          Polvarine 1.0")) << info.toStdString();
    EXPECT_TRUE(info.contains("Subject:         független mérési feljegyzés")) << info.toStdString();
    EXPECT_TRUE(info.contains("Page size:       595 x 842 pts")) << info.toStdString();
    const int pages = info.section("Pages:", 1).section('\n', 0, 0).trimmed().toInt();
    EXPECT_GE(pages, 10);
    EXPECT_LE(pages, 13);
    const QString text = run("pdftotext", {"-f", "1", "-l", "1", pdf, "-"});
    EXPECT_TRUE(text.contains("saját gépén")) << "the cover names the subscriber's own computer";
    run(PV_GRAB_BIN, {PV_SCREENS_DIR "/lab-dossier.png"}, x);
    QFile::remove(PV_SCREENS_DIR "/lab-dossier.pdf");
    QFile::copy(pdf, PV_SCREENS_DIR "/lab-dossier.pdf"); // for a person to look at
    std::printf("dossier: %s (%d pages)\n", qPrintable(pdf), pages);

    ::kill(static_cast<pid_t>(app.processId()), SIGTERM);
    ASSERT_TRUE(app.waitForFinished(15000));
    EXPECT_EQ(app.exitCode(), 0);
}

} // namespace
