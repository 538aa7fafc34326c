// The program's own composition (the registration main() makes, the live view model, the shell's
// window and panel) inside the network lab's client namespace under Xvfb: after a minute of
// monitoring, the window's export action writes the folder with its six files. The lab's servers
// stand in for the DNS and the captive page, so every probe stays in the lab.

#include "app/ApplicationShell.h"
#include "core/app/AppBootstrap.h"
#include "core/app/AppViewModel.h"
#include "core/records/Localization.h"
#include "reports/ExportService.h"
#include "tests/lab/LabEnv.h"
#include "tests/support/TestSupport.h"
#include "ui/main/MenuBarView.h"

#include <QAction>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMenu>
#include <QSettings>
#include <QToolButton>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

using namespace std::chrono_literals;
using pv::lab::LabEnv;

constexpr auto kMonitoring = 60s;

QString sourceFile(const QString& relative) { return QStringLiteral(PV_SOURCE_ROOT "/") + relative; }

std::vector<QAction*> exportActions(QMenu* menu)
{
    std::vector<QAction*> actions;
    for (QAction* action : menu->actions())
        if (!action->isSeparator() && action->text() != pv::L("Legutóbbi export megmutatása"))
            actions.push_back(action);
    return actions;
}

} // namespace

TEST(ExportLab, AfterAMinuteOfMonitoringTheWindowsExportWritesSixFiles)
{
    auto lab = LabEnv::current();
    if (!lab)
        GTEST_SKIP() << "not inside the network lab";
    ASSERT_FALSE(qEnvironmentVariable("DISPLAY").isEmpty()) << "run under xvfb-run";
    const QString tmp = pv::test::makeTempDir();
    ::chmod(QFile::encodeName(tmp).constData(), 0700);

    const QString dnsReady = tmp + QStringLiteral("/dns.port");
    const QString httpReady = tmp + QStringLiteral("/http.port");
    ASSERT_GT(lab->startInNamespace(lab->inetNs, {QStringLiteral("python3"), sourceFile(QStringLiteral("tests/lab/servers/dns_server.py")),
                                                  QStringLiteral("--bind"), lab->servicesAddr, QStringLiteral("--port"), QStringLiteral("53"),
                                                  QStringLiteral("--mode"), QStringLiteral("answer"), QStringLiteral("--address"),
                                                  lab->servicesAddr, QStringLiteral("--port-file"), dnsReady,
                                                  QStringLiteral("--lifetime"), QStringLiteral("200")}),
              0);
    ASSERT_GT(lab->startInNamespace(lab->inetNs, {QStringLiteral("python3"), sourceFile(QStringLiteral("tests/lab/servers/http_server.py")),
                                                  QStringLiteral("--bind"), lab->servicesAddr, QStringLiteral("--port"), QStringLiteral("80"),
                                                  QStringLiteral("--port-file"), httpReady, QStringLiteral("--lifetime"),
                                                  QStringLiteral("200")}),
              0);
    ASSERT_TRUE(pv::test::pumpUntil([&] { return QFile::exists(dnsReady) && QFile::exists(httpReady); }, 15s));

    // A user of its own: home (with its Documents folder still missing), settings, data and database.
    qputenv("HOME", tmp.toUtf8());
    qputenv("XDG_CONFIG_HOME", (tmp + QStringLiteral("/config")).toUtf8());
    qputenv("XDG_DATA_HOME", (tmp + QStringLiteral("/data")).toUtf8());
    qputenv("POLVARINE_DB", (tmp + QStringLiteral("/data/polvarine.sqlite3")).toUtf8());
    qputenv("POLVARINE_UPDATE_FEED", QStringLiteral("http://%1/appcast.json").arg(lab->servicesAddr).toUtf8());
    auto settings = std::make_shared<QSettings>(tmp + QStringLiteral("/config/workspace.ini"), QSettings::IniFormat);
    settings->setValue(QStringLiteral("workspace.didWelcome"), true);

    // As main() does.
    pv::ReportServiceMakers makers;
    makers.makeExportService = pv::reports::exportServiceMaker();
    pv::registerReportServiceMakers(std::move(makers));
    pv::ApplicationShell::Options options;
    options.makeModel = [] { return pv::AppBootstrap::makeLiveViewModel(); };
    options.settings = settings;
    pv::ApplicationShell shell(std::move(options));
    shell.install();
    pv::MainWindow* window = shell.showMainWindow();
    ASSERT_NE(window, nullptr);

    QElapsedTimer running;
    running.start();
    pv::test::pumpUntil([] { return false; }, kMonitoring);
    pv::AppViewModel& model = shell.model();
    EXPECT_TRUE(model.isMonitoring());

    // The panel's export actions and the window's export button, enabled.
    shell.togglePanel(QPoint(100, 100));
    ASSERT_NE(shell.panel(), nullptr);
    const std::vector<QAction*> panelActions = exportActions(shell.panel()->exportMenu());
    ASSERT_EQ(panelActions.size(), 3u);
    for (QAction* action : panelActions)
        EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
    QToolButton* button = nullptr;
    for (QToolButton* candidate : window->findChildren<QToolButton*>())
        if (candidate->text() == pv::L("Exportálás"))
            button = candidate;
    ASSERT_NE(button, nullptr);
    ASSERT_TRUE(button->isEnabled());
    const std::vector<QAction*> windowActions = exportActions(button->menu());
    ASSERT_EQ(windowActions.size(), 3u);
    ASSERT_TRUE(windowActions[0]->isEnabled());

    // Today's export, as a click on the first entry of the window's menu.
    windowActions[0]->trigger();
    QDir().mkpath(QStringLiteral(PV_SCREENS_DIR));
    ASSERT_TRUE(pv::test::pumpUntil([&] { return model.lastExportResult().has_value(); }, 30s))
        << (model.exportStatusMessage() ? model.exportStatusMessage()->toStdString() : std::string("no status"));
    const pv::ExportResult result = *model.lastExportResult();
    const QDir folder(result.directoryURL.toLocalFile());
    EXPECT_TRUE(folder.absolutePath().startsWith(tmp + QStringLiteral("/Documents/Polvarine Exports/")))
        << folder.absolutePath().toStdString();
    EXPECT_TRUE(folder.dirName().endsWith(QStringLiteral("_today")));
    QStringList files = folder.entryList(QDir::Files);
    files.sort();
    EXPECT_EQ(files, (QStringList{QStringLiteral("daily-summary.html"), QStringLiteral("events.csv"),
                                  QStringLiteral("incidents.csv"), QStringLiteral("markers.csv"),
                                  QStringLiteral("samples.csv"), QStringLiteral("wifi-snapshots.csv")}));
    EXPECT_GE(result.report.stats.probeCount, 8);
    QFile samples(result.samplesCSVURL.toLocalFile());
    ASSERT_TRUE(samples.open(QIODevice::ReadOnly));
    EXPECT_EQ(samples.readAll().count('\n'), result.report.stats.probeCount);
    ASSERT_TRUE(model.exportStatusMessage().has_value());
    EXPECT_TRUE(model.exportStatusMessage()->startsWith(QStringLiteral("Elkészült a mai nap exportja (")))
        << model.exportStatusMessage()->toStdString();
    EXPECT_TRUE(model.exportStatusMessage()->endsWith(folder.absolutePath()));

    // The window with its status line and the panel, and the page for a browser, for a person to look at.
    pv::test::pumpUntil([] { return false; }, 500ms);
    window->grab().save(QStringLiteral(PV_SCREENS_DIR "/lab-window-after-export.png"));
    if (shell.panelPopup())
        shell.panelPopup()->grab().save(QStringLiteral(PV_SCREENS_DIR "/lab-panel-after-export.png"));
    const QString page = QStringLiteral(PV_SCREENS_DIR "/lab-daily-summary.html");
    QFile::remove(page);
    QFile::copy(result.htmlURL.toLocalFile(), page);
    std::printf("exported %d samples after %lld s into %s; page copied to %s\n", result.report.stats.probeCount,
                static_cast<long long>(running.elapsed() / 1000), qPrintable(folder.absolutePath()), qPrintable(page));
    shell.shutDown();
}
