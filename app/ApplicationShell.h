#pragma once
// The program's shell: the one application model, made on first use by whichever part asks first;
// the main window around the workspace with its Help command; the tray icon that follows the live
// status and opens the menu-bar panel; and what a Linux desktop expects of a tray program: without
// a tray to come back from, closing the window ends the program instead of leaving it invisible.

#include "core/records/Records.h"
#include "ui/main/MainLogic.h"

#include <QIcon>
#include <QMainWindow>
#include <QPointer>

#include <chrono>
#include <functional>
#include <memory>

class QAction;
class QMenu;
class QSettings;
class QSystemTrayIcon;

namespace pv {

class AppViewModel;
class PolvarineMenuBarView;
class SingleInstance;
class WorkspaceView;

// Holds the process's one application model, composed the first time anyone asks for it.
class ModelProvider {
public:
    using Factory = std::function<std::unique_ptr<AppViewModel>()>;
    explicit ModelProvider(Factory factory);
    ~ModelProvider();

    AppViewModel& model();
    bool isComposed() const { return model_ != nullptr; }
    int compositions() const { return compositions_; }

private:
    Factory factory_;
    std::unique_ptr<AppViewModel> model_;
    int compositions_ = 0;
};

// The main window: the workspace, at least 1080×600 (less on a screen too small for that), a File
// menu whose "Kilépés" (Ctrl+Q) ends the program as the panel's quit button does, and a Help menu
// whose one command asks the workspace to show the welcome flow again.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Small enough for a 1366×768 laptop screen with a panel and the window's title bar.
    static constexpr int kMinimumWidth = 1080;
    static constexpr int kMinimumHeight = 600;
    static constexpr QSize kFirstSize{1240, 800};
    // The title bar and borders the window manager adds around the window.
    static constexpr QSize kFrameAllowance{16, 48};

    MainWindow(AppViewModel& model, std::shared_ptr<QSettings> settings, QWidget* parent = nullptr);

    // The window's size for `wanted` (the first size or the one saved at the last close) on a screen
    // whose free area is `available`: no larger than that area less the frame, and no smaller than the
    // minimum where the area allows it. The minimum is bounded by the same area.
    static QSize fittedSize(QSize wanted, const QRect& available);
    static QSize fittedMinimum(const QRect& available);


    WorkspaceView* workspace() const { return workspace_; }
    QMenu* fileMenu() const { return fileMenu_; }
    QAction* quitAction() const { return quit_; }
    QMenu* helpMenu() const { return helpMenu_; }
    QAction* reopenWelcomeAction() const { return reopenWelcome_; }
    // What "Kilépés" does; QApplication::quit by default (the shell gives it the panel's handler).
    void setQuitHandler(std::function<void()> handler) { quitHandler_ = std::move(handler); }

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    WorkspaceView* workspace_;
    QMenu* fileMenu_;
    QAction* quit_;
    QMenu* helpMenu_;
    QAction* reopenWelcome_;
    std::function<void()> quitHandler_;
    std::shared_ptr<QSettings> settings_;
};

// Where the tray panel of `size` goes for a tray icon at `anchor`: beside the icon, never over it —
// below an icon in the upper half of the screen and above one in the lower half, its edge in line
// with the icon's edge on the icon's side; beside a tray in a side bar. It stays inside `available`
// and never past its top-left corner.
QPoint popupPosition(const QRect& anchor, QSize size, const QRect& available);
// The icon's area when only the pointer's position is known (trays over D-Bus report no geometry):
// the pointer lies somewhere on an icon of at most this reach in each direction.
inline constexpr int kTrayIconReach = 16;
QRect trayAnchorAt(QPoint cursor);

// The freedesktop icon name for a menu-bar symbol: the design system's table first, then the few
// status symbols only the tray uses. Empty when neither knows the name.
QString traySymbolThemeName(const QString& symbolName);
// The tray icon of a look: its symbol tinted with its level's colour.
QIcon trayIconFor(const TrayLook& look);
// The icon of a live status alone (its menu-bar symbol).
QIcon trayIconFor(LiveStatus status);

class ApplicationShell : public QObject {
    Q_OBJECT
public:
    struct Options {
        ModelProvider::Factory makeModel;     // the live composition in the program
        bool trayAvailable = false;           // QSystemTrayIcon::isSystemTrayAvailable() in the program
        std::shared_ptr<QSettings> settings;  // the workspace's settings; the per-user file when null
    };

    explicit ApplicationShell(Options options, QObject* parent = nullptr);
    ~ApplicationShell() override;

    // Sets how the program ends, puts up the tray icon when there is a tray and makes the main
    // window openable by its identifier. Shows no window.
    void install();
    // Makes the main window on first use, then shows, raises and activates it.
    MainWindow* showMainWindow();
    // Opens the menu-bar panel as a frameless popup beside the tray icon at `anchor`, kept on that
    // screen; closes it when it is already open. The point form is a pointer on the icon.
    void togglePanel(const QRect& anchor);
    void togglePanel(QPoint cursor) { togglePanel(trayAnchorAt(cursor)); }
    // A later launch of the program shows this copy's window.
    void followActivations(SingleInstance& instance);
    // Shows a problem of the platform (not of the network) as the model's status message. False
    // when the model offers no way to set it.
    bool showPlatformProblem(const QString& message);
    // Before the model goes: stops monitoring and lets the stopped loops finish their last steps on
    // the event loop (at most `drain`), so no coroutine step is left queued when the application
    // object is torn down.
    void shutDown(std::chrono::milliseconds drain = std::chrono::milliseconds(300));

    AppViewModel& model() { return models_.model(); }
    const ModelProvider& models() const { return models_; }
    bool hasTray() const { return options_.trayAvailable; }
    MainWindow* mainWindow() const { return window_; }
    QSystemTrayIcon* trayIcon() const { return tray_; }
    QWidget* panelPopup() const { return popup_; }
    PolvarineMenuBarView* panel() const { return panel_; }
    LiveStatus trayStatus() const { return trayStatus_; }
    TrayLook trayLook() const { return trayLook_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    MainWindow* ensureMainWindow();
    void refreshTray();
    void placePanel();

    Options options_;
    ModelProvider models_;
    QPointer<MainWindow> window_;
    QSystemTrayIcon* tray_ = nullptr;
    QPointer<QWidget> popup_;
    PolvarineMenuBarView* panel_ = nullptr;
    QRect panelAnchor_; // the tray icon the open panel belongs to
    LiveStatus trayStatus_ = LiveStatus::healthy;
    TrayLook trayLook_;
};

} // namespace pv
