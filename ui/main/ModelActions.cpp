#include "ui/main/ModelActions.h"

#include "core/app/AppViewModel.h"

namespace pv::actions {

// The model does not offer startMonitoring()/stopMonitoring() yet.
bool canToggleMonitoring(const AppViewModel&) { return false; }
void toggleMonitoring(AppViewModel&) {}

// The model does not offer bootstrap() yet.
bool canBootstrap(const AppViewModel&) { return false; }
void bootstrap(AppViewModel&) {}

// The model does not offer runExport(scope:) yet.
bool canExport(const AppViewModel&) { return false; }
void startExport(AppViewModel&, ExportScope) {}

// The model does not offer revealLatestExportInFinder() yet.
bool canRevealLatestExport(const AppViewModel&) { return false; }
void revealLatestExport(AppViewModel&) {}

// The model does not offer suspendForLoadTest(), resumeAfterLoadTest() or recordLoadTest() yet.
bool canHandOffLoadTest(const AppViewModel&) { return false; }
void suspendForLoadTest(AppViewModel&) {}
void resumeAfterLoadTest(AppViewModel&) {}
void recordLoadTest(AppViewModel&, const LoadTestResult&) {}

} // namespace pv::actions

namespace pv::screens {

// None of these screens is built yet.
QWidget* makeHistoryScreen(AppViewModel&) { return nullptr; }
QWidget* makeLoadTestScreen(AppViewModel&) { return nullptr; }
QWidget* makeDossierScreen(AppViewModel&) { return nullptr; }
QWidget* makeSettingsScreen(AppViewModel&) { return nullptr; }
QWidget* makeWelcomeScreen(AppViewModel&, std::function<void()>) { return nullptr; }

} // namespace pv::screens
