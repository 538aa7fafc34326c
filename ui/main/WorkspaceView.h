#pragma once
// The main window's content: a sidebar with the five sections and the recording status row, and
// the screen of the selected section with the window toolbar above it. It remembers the last
// section, runs the model's start-up on the first show and opens the welcome flow until the user
// has finished it once, or when the application asks for it again.

#include "ui/main/MainLogic.h"

#include <QDialog>
#include <QPointer>
#include <QSettings>
#include <QStyledItemDelegate>
#include <QWidget>

#include <functional>
#include <memory>

class QDialog;
class QListWidget;
class QPushButton;
class QSplitter;
class QStackedLayout;
class QToolBar;
class QVBoxLayout;

namespace pv {

class AppViewModel;
class OverviewFeed;
class PVLiveIndicator;
class PolvarineRootView;

// Paints a sidebar row: the section's symbol (accent when selected, else tertiary), its title over
// its subtitle, and a neutral selection fill, so the accent symbol stays visible on it.
class WorkspaceSectionDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static constexpr int kSectionRole = Qt::UserRole + 1;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

class WorkspaceView : public QWidget {
    Q_OBJECT
public:
    static constexpr const char* lastSectionKey = "workspace.lastSection";
    static constexpr const char* didWelcomeKey = "workspace.didWelcome";
    static constexpr int kSidebarMinimum = 200;
    static constexpr int kSidebarIdeal = 220;
    static constexpr int kSidebarMaximum = 280;
    // The name of the application-wide request to show the welcome flow again.
    static QString reopenWelcomeNotification() { return QStringLiteral("polvarine.reopenWelcome"); }

    using WelcomeFactory = std::function<QWidget*(AppViewModel&, std::function<void()> onFinish)>;

    // settings: the store the preferences use; the per-user settings file when null.
    explicit WorkspaceView(AppViewModel& model, std::shared_ptr<QSettings> settings = {}, QWidget* parent = nullptr);
    ~WorkspaceView() override;

    WorkspaceSection section() const { return section_; }
    void selectSection(WorkspaceSection section);
    bool showsWelcome() const { return welcome_ != nullptr; }
    QDialog* welcomeDialog() const { return welcome_; }
    // Replaces how the welcome screen is made (tests; the default is the real screen).
    void setWelcomeFactory(WelcomeFactory factory) { welcomeFactory_ = std::move(factory); }

    QWidget* detailScreen() const { return detail_; }
    QToolBar* toolBar() const { return toolBar_; }
    QListWidget* sidebarList() const { return list_; }
    QSplitter* splitter() const { return splitter_; }
    QPushButton* recordingButton() const { return recordingButton_; }
    bool showsRecordingLive() const;
    PVLiveIndicator* recordingIndicator() const { return liveRow_; }

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void onListSelection(int row);
    void showDetail();
    void refreshStatusRow();
    void clearToolBar();
    void openWelcome();
    void finishWelcome();

    AppViewModel& model_;
    OverviewFeed& feed_;
    std::shared_ptr<QSettings> settings_;
    WorkspaceSection section_ = WorkspaceSection::overview;
    bool didFirstShow_ = false;
    bool restoring_ = false;
    WelcomeFactory welcomeFactory_;

    QSplitter* splitter_;
    QListWidget* list_;
    PVLiveIndicator* liveRow_;
    QWidget* pausedRow_;
    QPushButton* recordingButton_;
    QWidget* toolBarRow_;
    QToolBar* toolBar_;
    QVBoxLayout* detailLayout_;
    QPointer<QWidget> detail_;
    QPointer<QDialog> welcome_;
};

} // namespace pv
