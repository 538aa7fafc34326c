// polvarine: the program's entry point.

#include "app/ApplicationShell.h"
#include "app/CommandLine.h"
#include "core/app/IcmpPermission.h"
#include "app/PlatformTexts.h"
#include "app/SingleInstance.h"
#include "app/Termination.h"

#include "core/app/AppBootstrap.h"
#include "core/app/AppViewModel.h"
#include "core/records/Logging.h"
#include "reports/ExportService.h"
#include "reports/DossierService.h"
#include "reports/DossierScreen.h"
#include "core/records/Runtime.h"
#include "loadtest/LoadTestScreen.h"
#include "ui/design/Symbols.h"
#include "ui/main/ModelActions.h"

#include <QApplication>
#include <QIcon>
#include <QSystemTrayIcon>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char* argv[])
{
    // --help, --version and mistyped options are answered on the terminal; nothing else starts.
    const pv::CommandLineAnswer answer =
        pv::answerCommandLine(std::vector<std::string>(argv + 1, argv + argc), POLVARINE_VERSION);
    if (answer.action != pv::CommandLineAnswer::Action::run) {
        std::fputs(answer.text.c_str(), answer.action == pv::CommandLineAnswer::Action::print ? stdout : stderr);
        return answer.exitCode;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Polvarine"));
    QApplication::setOrganizationName(QStringLiteral("Polvarine"));
    QApplication::setApplicationVersion(QStringLiteral(POLVARINE_VERSION));
    // The menu entry's name: Wayland desktops match windows and notifications to it.
    QGuiApplication::setDesktopFileName(QStringLiteral("hu.polvarine.Polvarine"));
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("polvarine"),
                                                 QIcon(QStringLiteral(":/polvarine/polvarine.svg"))));
    pv::installPlatformTexts();

    // The reports this build offers, registered before the view model is composed.
    pv::ReportServiceMakers reportMakers;
    reportMakers.makeExportService = pv::reports::exportServiceMaker();
    pv::registerReportServiceMakers(std::move(reportMakers));

    // Before anything opens the database: a second copy only hands over to the first.
    pv::SingleInstance instance(pv::SingleInstance::defaultFolder());
    switch (instance.claim()) {
    case pv::SingleInstance::Outcome::primary: break;
    case pv::SingleInstance::Outcome::handedOver: return 0;
    case pv::SingleInstance::Outcome::failed:
        std::fprintf(stderr, "polvarine: %s\n", qUtf8Printable(instance.errorString()));
        return 1;
    }
    pv::installTerminationHandler(app);
    // The load test's sockets and timers run on a thread of their own.
    auto loadTestRuntime = std::make_shared<pv::rt::NetworkRuntime>("pv-loadtest-io");
    pv::screens::registerLoadTestScreenMaker([loadTestRuntime](pv::screens::LoadTestCallbacks callbacks) {
        return pv::makeLoadTestScreen(loadTestRuntime->executor(), std::move(callbacks.willStart),
                                      std::move(callbacks.didFinish), std::move(callbacks.finished));
    });
    pv::pvInstallIconTheme();

    pv::registerDossierService();
    pv::screens::registerDossierScreenMaker([](pv::AppViewModel& model) { return new pv::DossierScreen(model); });
    pv::ApplicationShell::Options options;
    options.makeModel = [] { return pv::AppBootstrap::makeLiveViewModel(); };
    options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
    pv::ApplicationShell shell(std::move(options));
    shell.followActivations(instance);
    shell.install();
    shell.showMainWindow();
    if (!shell.hasTray())
        qCInfo(pv::log::bootstrap, "No system tray: closing the window quits the program");

    if (const auto message = pv::icmpPermissionMessage(pv::checkIcmpPermission())) {
        qCWarning(pv::log::bootstrap, "ICMP sockets are not permitted for this user (net.ipv4.ping_group_range)");
        shell.showPlatformProblem(*message);
    }

    const int code = app.exec();
    shell.shutDown();
    pv::screens::registerLoadTestScreenMaker({});
    loadTestRuntime->stop();
    return code;
}
