#pragma once
// The settings section: starting at login, the outage notification and the update check; how long
// measurements are kept and where the database lives; the location permission; and what is measured.
// The page keeps no state of its own: every control shows the preferences or the application model.

#include "ui/screens/DesktopActions.h"
#include "ui/screens/ScreenParts.h"

#include <optional>

class QLabel;

namespace pv {

class AppViewModel;
class PreferencesStore;

namespace settings {
// The update switch's note: with a feed it names the feed's host inside the one sentence; without
// one it says that this build does not look for updates.
QString updateNote(const std::optional<QUrl>& feed);
} // namespace settings

// The launch-at-login switch of the settings and welcome screens: turning it asks the preferences
// to change the autostart entry and then shows what was read back, so a failed change snaps back.
void bindLaunchSwitch(PVSwitch* toggle, PreferencesStore& preferences);

class SettingsScreen : public PVScreenPage {
    Q_OBJECT
public:
    explicit SettingsScreen(AppViewModel& viewModel, QWidget* parent = nullptr);
    SettingsScreen(AppViewModel& viewModel, DesktopHooks hooks, QWidget* parent = nullptr);

    PVSwitch* launchSwitch() const { return launch_; }
    PVSwitch* notifySwitch() const { return notify_; }
    PVSwitch* updateSwitch() const { return update_; }
    PVSwitch* ipv6Switch() const { return ipv6_; }
    PVSwitch* ipv6NotifySwitch() const { return ipv6Notify_; }
    PVText* updateNoteText() const { return updateNote_; }
    PVSegmentedPicker* retentionPicker() const { return retention_; }
    PVText* retentionDetail() const { return retentionDetail_; }
    QLabel* databasePath() const { return databasePath_; }
    QAbstractButton* revealButton() const { return reveal_; }
    // What the button says when no file manager could show the database (hidden until then).
    QLabel* revealFailure() const { return revealFailure_; }
    QAbstractButton* networkSettingsButton() const { return networkSettings_; }
    PVText* locationStatus() const { return locationStatus_; }
    // Whether this user may send the echoes, and how to permit them when not.
    PVText* icmpStatus() const { return icmpStatus_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeRunningCard();
    QWidget* makeRetentionCard();
    QWidget* makePermissionCard();
    QWidget* makeMeasuredCard();
    void refreshPreferences();
    void refreshPathStyle();
    QString locationStatusText() const;

    AppViewModel& viewModel_;
    PreferencesStore& preferences_;
    DesktopHooks hooks_;
    std::optional<QUrl> feed_;
    PVSwitch* launch_ = nullptr;
    PVSwitch* notify_ = nullptr;
    PVSwitch* update_ = nullptr;
    PVSwitch* ipv6_ = nullptr;
    PVSwitch* ipv6Notify_ = nullptr;
    PVText* updateNote_ = nullptr;
    PVSegmentedPicker* retention_ = nullptr;
    PVText* retentionDetail_ = nullptr;
    QLabel* databasePath_ = nullptr;
    QAbstractButton* reveal_ = nullptr;
    QLabel* revealFailure_ = nullptr;
    QAbstractButton* networkSettings_ = nullptr;
    PVText* locationStatus_ = nullptr;
    PVText* icmpStatus_ = nullptr;
};

} // namespace pv
