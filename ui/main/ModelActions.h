#pragma once
// The operations of the application model that the window, the overview and the menu-bar panel
// call, each behind one function. Where the model does not offer an operation yet, its `can...`
// function answers false and every control bound to it is shown disabled, never as a control that
// silently does nothing; wiring one is a change to its two functions here.

#include "core/records/Records.h"

#include <QWidget>

#include <functional>

namespace pv {

class AppViewModel;
struct LoadTestResult;

namespace actions {

// Pause and resume: reads isMonitoring at the moment of the click.
bool canToggleMonitoring(const AppViewModel& model);
void toggleMonitoring(AppViewModel& model);

// The one-time start-up (the model guards against a second run).
bool canBootstrap(const AppViewModel& model);
void bootstrap(AppViewModel& model);

// An export of one scope, started and not awaited.
bool canExport(const AppViewModel& model);
void startExport(AppViewModel& model, ExportScope scope);
// Shows the folder of the latest export; needs a finished export as well.
bool canRevealLatestExport(const AppViewModel& model);
void revealLatestExport(AppViewModel& model);

// The load-test hand-offs, bracketing a run.
bool canHandOffLoadTest(const AppViewModel& model);
void suspendForLoadTest(AppViewModel& model);
void resumeAfterLoadTest(AppViewModel& model);
void recordLoadTest(AppViewModel& model, const LoadTestResult& result);

} // namespace actions

// The screens of the other sections and the welcome flow. Each answers nullptr while the screen
// does not exist yet; the workspace then shows its placeholder (or opens no welcome sheet).
namespace screens {
// The load-test screen is made by the program, which registers its maker; the screen gets the
// model's hand-offs around a run as three callbacks.
struct LoadTestCallbacks {
    std::function<void()> willStart;
    std::function<void()> didFinish;
    std::function<void(const LoadTestResult&)> finished;
};
void registerLoadTestScreenMaker(std::function<QWidget*(LoadTestCallbacks)> maker);
// Whether makeLoadTestScreen makes a screen (the overview offers its load-test sheet only then).
bool hasLoadTestScreen();
QWidget* makeHistoryScreen(AppViewModel& model);
QWidget* makeLoadTestScreen(AppViewModel& model);
QWidget* makeDossierScreen(AppViewModel& model);
// The program registers the dossier screen of the reports part (this part does not depend on it).
void registerDossierScreenMaker(std::function<QWidget*(AppViewModel&)> maker);
QWidget* makeSettingsScreen(AppViewModel& model);
QWidget* makeWelcomeScreen(AppViewModel& model, std::function<void()> onFinish);
} // namespace screens

} // namespace pv
