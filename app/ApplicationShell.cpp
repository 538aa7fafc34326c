#include "app/ApplicationShell.h"

#include "app/SingleInstance.h"

#include "core/app/AppViewModel.h"
#include "core/app/Presentation.h"
#include "core/records/Localization.h"
#include "ui/design/Symbols.h"
#include "ui/design/Tokens.h"
#include "ui/main/MainLogic.h"
#include "ui/main/MainWidgets.h"
#include "ui/main/MenuBarView.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/TokenPalette.h"
#include "ui/main/WorkspaceView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QResizeEvent>
#include <QShowEvent>
#include <QScreen>
#include <QSettings>
#include <QSystemTrayIcon>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

namespace pv {

// ---- The one model --------------------------------------------------------------------------------

ModelProvider::ModelProvider(Factory factory) : factory_(std::move(factory)) {}
ModelProvider::~ModelProvider() = default;

AppViewModel& ModelProvider::model()
{
    if (!model_) {
        ++compositions_;
        model_ = factory_();
    }
    return *model_;
}

// ---- Main window ----------------------------------------------------------------------------------

namespace {
constexpr const char* kSizeKey = "window/size";
} // namespace

MainWindow::MainWindow(AppViewModel& model, std::shared_ptr<QSettings> settings, QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QString::fromLatin1(PolvarineWindowID::main));
    // The window's own chrome (menu bar, the frame around the workspace) takes the token colours
    // of the appearance as well, not the desktop palette's.
    followTokenPalette(this);
    setWindowTitle(L("Polvarine"));
    settings_ = settings;
    // On the screen it opens on (the primary one until the desktop moves it), never larger than its
    // free area: the bottom of the workspace stays in reach on a small laptop screen.
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    setMinimumSize(fittedMinimum(available));
    const QSize saved = settings_ ? settings_->value(QLatin1String(kSizeKey)).toSize() : QSize();
    resize(fittedSize(saved.isValid() ? saved : kFirstSize, available));

    workspace_ = new WorkspaceView(model, std::move(settings), this);
    setCentralWidget(workspace_);

    // The desktop's convention for ending a program from its window.
    quitHandler_ = [] { QApplication::quit(); };
    fileMenu_ = menuBar()->addMenu(L("Fájl"));
    quit_ = fileMenu_->addAction(L("Kilépés"));
    quit_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
    quit_->setShortcutContext(Qt::WindowShortcut);
    quit_->setMenuRole(QAction::QuitRole);
    connect(quit_, &QAction::triggered, this, [this] {
        if (quitHandler_)
            quitHandler_();
    });

    // The standard Help entries have nothing to offer here: the menu holds this one command.
    helpMenu_ = menuBar()->addMenu(L("Súgó"));
    reopenWelcome_ = helpMenu_->addAction(L("Bemutatkozás újra"));
    connect(reopenWelcome_, &QAction::triggered, this,
            [] { NotificationCenter::instance().post(WorkspaceView::reopenWelcomeNotification()); });
}

QSize MainWindow::fittedMinimum(const QRect& available)
{
    const QSize minimum(kMinimumWidth, kMinimumHeight);
    if (!available.isValid())
        return minimum;
    return minimum.boundedTo((available.size() - kFrameAllowance).expandedTo(QSize(320, 240)));
}

QSize MainWindow::fittedSize(QSize wanted, const QRect& available)
{
    const QSize minimum = fittedMinimum(available);
    wanted = wanted.expandedTo(minimum);
    if (!available.isValid())
        return wanted;
    return wanted.boundedTo(available.size() - kFrameAllowance).expandedTo(minimum);
}

void MainWindow::showEvent(QShowEvent* event)
{
    // The desktop may have placed the window on another screen than the primary one.
    if (const QScreen* on = screen(); on != nullptr && !event->spontaneous()) {
        const QRect available = on->availableGeometry();
        setMinimumSize(fittedMinimum(available));
        if (windowState() == Qt::WindowNoState)
            resize(fittedSize(size(), available));
    }
    QMainWindow::showEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent* event)
{
    // Not when maximised or full-screen: the next start opens at the size the user last set.
    if (settings_ && isVisible() && windowState() == Qt::WindowNoState)
        settings_->setValue(QLatin1String(kSizeKey), event->size());
    QMainWindow::resizeEvent(event);
}

// ---- Tray ------------------------------------------------------------------------------------------

QRect trayAnchorAt(QPoint cursor)
{
    return QRect(cursor - QPoint(kTrayIconReach, kTrayIconReach), QSize(2 * kTrayIconReach + 1, 2 * kTrayIconReach + 1));
}

QPoint popupPosition(const QRect& anchor, QSize size, const QRect& available)
{
    constexpr int gap = 4;
    const QPoint centre = anchor.center();
    const bool rightSide = centre.x() >= available.center().x();
    const bool lowerSide = centre.y() >= available.center().y();
    int x = 0;
    int y = 0;
    if (anchor.right() < available.left() || anchor.left() > available.right()) {
        // A tray in a side bar: the panel opens next to the bar, level with the icon.
        x = anchor.right() < available.left() ? available.left() : available.right() + 1 - size.width();
        y = lowerSide ? anchor.bottom() + 1 - size.height() : anchor.top();
    } else {
        x = rightSide ? anchor.right() + 1 - size.width() : anchor.left();
        y = lowerSide ? anchor.top() - gap - size.height() : anchor.bottom() + 1 + gap;
    }
    x = std::max(std::min(x, available.right() + 1 - size.width()), available.left());
    y = std::max(std::min(y, available.bottom() + 1 - size.height()), available.top());
    return {x, y};
}

namespace {
// Status symbols of the tray that the design system's table does not carry.
struct TrayOnlySymbol {
    const char* symbolName;
    const char* themeName;
};
constexpr TrayOnlySymbol kTrayOnlySymbols[] = {
    {"wifi.slash", "network-wireless-offline-symbolic"},
    {"arrow.triangle.2.circlepath.circle.fill", "view-refresh-symbolic"},
};

PVStatus trayLevel(LiveStatus status)
{
    switch (status) {
    case LiveStatus::healthy: return PVStatus::good;
    case LiveStatus::degraded: return PVStatus::watch;
    case LiveStatus::offline: return PVStatus::critical;
    case LiveStatus::reassociating: return PVStatus::watch;
    }
    return PVStatus::neutral;
}
} // namespace

QString traySymbolThemeName(const QString& symbolName)
{
    const QByteArray name = symbolName.toUtf8();
    if (symbolMapping(std::string_view(name.constData(), static_cast<size_t>(name.size()))) != nullptr)
        return themeIconName(std::string_view(name.constData(), static_cast<size_t>(name.size())));
    for (const auto& entry : kTrayOnlySymbols)
        if (symbolName == QLatin1String(entry.symbolName))
            return QString::fromLatin1(entry.themeName);
    return {};
}

QIcon trayIconFor(const TrayLook& look)
{
    const QString symbol = QString::fromUtf8(look.symbolName.data(), static_cast<qsizetype>(look.symbolName.size()));
    const std::string_view view = look.symbolName;
    const QColor tint = PVColor(statusMarkSaturated(look.level)).resolve();

    QIcon icon;
    for (int side : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF box(1, 1, side - 2, side - 2);
        if (symbolMapping(view) != nullptr) {
            pvPaintSymbol(p, box, view, tint);
        } else {
            // Not in the design system's table: its freedesktop icon, tinted like the painted ones.
            const QIcon themed = pvSymbolIcon(traySymbolThemeName(symbol));
            QImage image = themed.isNull() ? QImage() : themed.pixmap(side - 2, side - 2).toImage();
            if (!image.isNull()) {
                image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
                QPainter ip(&image);
                ip.setCompositionMode(QPainter::CompositionMode_SourceIn);
                ip.fillRect(image.rect(), tint);
                ip.end();
                p.drawImage(box, image);
            } else {
                pvPaintGlyph(p, box, view == "wifi.slash" ? PVGlyph::wifi : PVGlyph::generic, tint);
            }
        }
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QIcon trayIconFor(LiveStatus status)
{
    static const QByteArray names[] = {
        presentation::menuBarSymbolName(LiveStatus::healthy).toUtf8(),
        presentation::menuBarSymbolName(LiveStatus::degraded).toUtf8(),
        presentation::menuBarSymbolName(LiveStatus::offline).toUtf8(),
        presentation::menuBarSymbolName(LiveStatus::reassociating).toUtf8(),
    };
    const QByteArray& name = names[static_cast<int>(status)];
    return trayIconFor(TrayLook{trayLevel(status), std::string_view(name.constData(), static_cast<size_t>(name.size()))});
}

// ---- Shell -----------------------------------------------------------------------------------------

ApplicationShell::ApplicationShell(Options options, QObject* parent)
    : QObject(parent), options_(std::move(options)), models_(options_.makeModel)
{
}

ApplicationShell::~ApplicationShell()
{
    WindowRegistry::instance().unregisterWindow(QString::fromLatin1(PolvarineWindowID::main));
    // The windows observe the model: they go first, the model (with models_) after them.
    delete popup_.data();
    delete window_.data();
    delete tray_;
}

void ApplicationShell::install()
{
    // With a tray the program lives on after its window closes and comes back through the panel;
    // without one nothing would be left to come back through, so closing the window ends it.
    QGuiApplication::setQuitOnLastWindowClosed(!options_.trayAvailable);

    WindowRegistry::instance().registerWindow(QString::fromLatin1(PolvarineWindowID::main),
                                              [this]() -> QWidget* { return ensureMainWindow(); });

    if (!options_.trayAvailable)
        return;
    tray_ = new QSystemTrayIcon(this);
    // The icon follows what the window says (headline, banners, the link in use), not the live
    // status alone: every change the views repaint on.
    connect(&OverviewFeed::of(model()), &OverviewFeed::changed, this, &ApplicationShell::refreshTray);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason) {
        // Trays over D-Bus report no icon geometry: then the pointer stands for the icon.
        const QRect icon = tray_->geometry();
        togglePanel(icon.isValid() && !icon.isEmpty() ? icon : trayAnchorAt(QCursor::pos()));
    });
    refreshTray();
    tray_->show();
}

void ApplicationShell::refreshTray()
{
    if (tray_ == nullptr)
        return;
    trayStatus_ = model().liveStatus();
    const auto held = OverviewFeed::of(model()).snapshot();
    const OverviewSnapshot& s = *held;
    const TrayLook look = pv::trayLook(s);
    if (look != trayLook_ || tray_->icon().isNull()) {
        trayLook_ = look;
        tray_->setIcon(trayIconFor(look));
    }
    tray_->setToolTip(L("Polvarine") + QStringLiteral(" — ") + trayStatusText(s));
}

MainWindow* ApplicationShell::ensureMainWindow()
{
    if (!window_)
        window_ = new MainWindow(model(), options_.settings);
    return window_;
}

MainWindow* ApplicationShell::showMainWindow()
{
    WindowRegistry::instance().open(QString::fromLatin1(PolvarineWindowID::main));
    return window_;
}

void ApplicationShell::followActivations(SingleInstance& instance)
{
    connect(&instance, &SingleInstance::activationRequested, this, [this] { showMainWindow(); });
}

bool ApplicationShell::showPlatformProblem(const QString& message)
{
    model().setStatusMessage(message);
    return true;
}

void ApplicationShell::shutDown(std::chrono::milliseconds drain)
{
    if (!models_.isComposed())
        return;
    if (model().isMonitoring())
        model().stopMonitoring();
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < drain.count()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(2);
    }
}

void ApplicationShell::togglePanel(const QRect& anchor)
{
    if (popup_ && popup_->isVisible()) {
        popup_->hide();
        return;
    }
    if (!popup_) {
        popup_ = new QWidget(nullptr, Qt::Popup | Qt::FramelessWindowHint);
        popup_->setObjectName(QStringLiteral("menuBarPanel"));
        // The content changes while the panel is open (a fault found, advice added): it grows from
        // where it stands and is placed again, so that it stays on the screen and beside its icon.
        popup_->installEventFilter(this);
        auto* layout = new QVBoxLayout(popup_);
        layout->setContentsMargins(0, 0, 0, 0);
        panel_ = new PolvarineMenuBarView(model(), popup_);
        layout->addWidget(panel_);
    }
    // Laid out for the content of this moment, before it shows (refresh sizes the popup too).
    panel_->refresh();
    panelAnchor_ = anchor;
    placePanel();
    popup_->show();
    popup_->raise();
    popup_->activateWindow();
}

void ApplicationShell::placePanel()
{
    QScreen* screen = QGuiApplication::screenAt(panelAnchor_.center());
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    const QRect available =
        screen != nullptr ? screen->availableGeometry() : QRect(panelAnchor_.topLeft(), popup_->size());
    popup_->move(popupPosition(panelAnchor_, popup_->size(), available));
}

bool ApplicationShell::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == popup_ && event->type() == QEvent::Resize && popup_->isVisible())
        placePanel();
    return QObject::eventFilter(watched, event);
}

} // namespace pv
