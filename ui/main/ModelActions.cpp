#include "ui/main/ModelActions.h"

#include "core/app/AppViewModel.h"
#include "core/app/ReportServices.h"
#include "core/records/LoadTestResult.h"
#include "ui/screens/HistoryScreen.h"
#include "ui/screens/SettingsScreen.h"
#include "ui/screens/WelcomeScreen.h"

#include <QUrl>

namespace pv::actions {

namespace {

// Keeps a guard alive exactly as long as the model: the tasks started here resume only while it
// lives, so a window closed during a start-up or a save never touches a destroyed model.
class ModelLifetime : public QObject {
public:
    explicit ModelLifetime(QObject* model) : QObject(model) { setObjectName(QStringLiteral("pv.actions.lifetime")); }
    std::shared_ptr<int> guard = std::make_shared<int>(0);
};

rt::QtExecutor guardedExecutor(AppViewModel& model)
{
    auto* lifetime = dynamic_cast<ModelLifetime*>(
        model.findChild<QObject*>(QStringLiteral("pv.actions.lifetime"), Qt::FindDirectChildrenOnly));
    if (lifetime == nullptr)
        lifetime = new ModelLifetime(&model);
    return rt::QtExecutor(std::weak_ptr<void>(lifetime->guard));
}

} // namespace

// Not while a load test runs: its own load would be recorded as the line's.
bool canToggleMonitoring(const AppViewModel& model) { return !model.isLoadTestRunning(); }

void toggleMonitoring(AppViewModel& model)
{
    if (!canToggleMonitoring(model))
        return;
    if (model.isMonitoring())
        model.stopMonitoring();
    else
        model.startMonitoring();
}

bool canBootstrap(const AppViewModel& model) { return !model.didBootstrap(); }

void bootstrap(AppViewModel& model)
{
    if (!canBootstrap(model))
        return;
    asio::co_spawn(guardedExecutor(model), model.bootstrap(), asio::detached);
}

// Exports are offered only when the reports are part of this build.
bool canExport(const AppViewModel&) { return exportsAvailable(); }

void startExport(AppViewModel& model, ExportScope scope) { model.runExport(scope); }

bool canRevealLatestExport(const AppViewModel& model) { return model.lastExportResult().has_value(); }

void revealLatestExport(AppViewModel& model)
{
    // Without a file manager the model says so on the status line, naming the folder.
    model.revealLatestExportInFinder();
}

bool canHandOffLoadTest(const AppViewModel&) { return true; }
void suspendForLoadTest(AppViewModel& model) { model.suspendForLoadTest(); }
void resumeAfterLoadTest(AppViewModel& model) { model.resumeAfterLoadTest(); }

void recordLoadTest(AppViewModel& model, const LoadTestResult& result)
{
    asio::co_spawn(guardedExecutor(model), model.recordLoadTest(result), asio::detached);
}

} // namespace pv::actions

namespace pv::screens {

namespace {
std::function<QWidget*(LoadTestCallbacks)>& loadTestScreenMaker()
{
    static std::function<QWidget*(LoadTestCallbacks)> maker;
    return maker;
}
} // namespace

void registerLoadTestScreenMaker(std::function<QWidget*(LoadTestCallbacks)> maker)
{
    loadTestScreenMaker() = std::move(maker);
}

bool hasLoadTestScreen() { return static_cast<bool>(loadTestScreenMaker()); }

QWidget* makeLoadTestScreen(AppViewModel& model)
{
    if (!loadTestScreenMaker())
        return nullptr;
    // Monitoring pauses before a test and resumes after it; each finished result is stored.
    return loadTestScreenMaker()({[&model] { actions::suspendForLoadTest(model); },
                                  [&model] { actions::resumeAfterLoadTest(model); },
                                  [&model](const LoadTestResult& result) { actions::recordLoadTest(model, result); }});
}

namespace {
std::function<QWidget*(AppViewModel&)>& dossierScreenMaker()
{
    static std::function<QWidget*(AppViewModel&)> maker;
    return maker;
}
} // namespace

void registerDossierScreenMaker(std::function<QWidget*(AppViewModel&)> maker) { dossierScreenMaker() = std::move(maker); }

QWidget* makeDossierScreen(AppViewModel& model) { return dossierScreenMaker() ? dossierScreenMaker()(model) : nullptr; }

QWidget* makeHistoryScreen(AppViewModel& model) { return new HistoryScreen(model); }
QWidget* makeSettingsScreen(AppViewModel& model) { return new SettingsScreen(model); }
QWidget* makeWelcomeScreen(AppViewModel& model, std::function<void()> onFinish)
{
    return new WelcomeScreen(model, std::move(onFinish));
}

} // namespace pv::screens
