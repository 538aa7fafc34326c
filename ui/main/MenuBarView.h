#pragma once
// The compact panel of the tray icon: the status header, the first evidence sentence and advice
// step, three live figures and the controls (pause or resume, open the main window, export, quit),
// fixed 340 wide. A widget on its own: the shell puts it into the tray popup.

#include "ui/main/MainLogic.h"
#include "ui/main/MainWidgets.h"

#include <QWidget>

#include <functional>

class QMenu;
class QPushButton;
class QShortcut;

namespace pv {

class AppViewModel;
class OverviewFeed;

class PolvarineMenuBarView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = 340;
    static constexpr int kPadding = 20;

    explicit PolvarineMenuBarView(AppViewModel& model, QWidget* parent = nullptr);

    // What "Kilépés a Polvarine-ból" does; QApplication::quit by default (tests replace it).
    void setQuitHandler(std::function<void()> handler) { quit_ = std::move(handler); }

    PVStatusGlyph* statusGlyph() const { return glyph_; }
    QString titleText() const;
    QString freshnessText() const;
    QWidget* header() const { return header_; }
    bool showsAdviceGroup() const { return !adviceGroup_->isHidden(); }
    QString evidenceText() const;
    QString statusLineText() const; // empty while the model has no status line
    PVSymbolTextRow* statusLine() const { return statusLine_; }
    QString ipv6LineText() const; // empty while the IPv6 path is not broken
    QPushButton* statusActionButton() const { return statusAction_; }
    QString adviceStepText() const;
    QString metricValue(int column) const;
    QString metricAccessibleName(int column) const;
    QPushButton* monitoringButton() const { return pauseButton_; }
    QPushButton* openButton() const { return openButton_; }
    QPushButton* exportButton() const { return exportButton_; }
    QPushButton* quitButton() const { return quitButton_; }
    QMenu* exportMenu() const { return exportMenu_; }
    QAction* revealAction() const { return revealAction_; }
    const std::vector<QShortcut*>& shortcuts() const { return shortcuts_; }
    QSize sizeHint() const override;

    // Lays the panel out for its current content at once and sizes it (or the window it fills)
    // to it. refresh() ends with it; the shell calls it again before it shows the panel.
    void layOutForContent();

public Q_SLOTS:
    void refresh();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct MetricColumn {
        QWidget* widget;
        PVText* value;
        PVText* unit;
    };
    MetricColumn makeMetric(const QString& label, const PVColor& dot, QWidget* parent);

    AppViewModel& model_;
    OverviewFeed& feed_;
    std::function<void()> quit_;
    QWidget* header_;
    PVStatusGlyph* glyph_;
    PVText* title_;
    PVText* freshness_;
    PVDivider* adviceDivider_;
    QWidget* adviceGroup_;
    PVText* evidence_;
    PVSymbolTextRow* statusLine_;
    PVSymbolTextRow* ipv6Line_;
    QPushButton* statusAction_;
    PVStatus statusLevel_ = PVStatus::watch; // the status line's symbol as made
    PVSymbolTextRow* step_;
    std::vector<MetricColumn> metrics_;
    PVText* metricsCaption_;
    QPushButton* pauseButton_;
    QPushButton* openButton_;
    QPushButton* exportButton_;
    QPushButton* quitButton_;
    QMenu* exportMenu_;
    QAction* revealAction_;
    std::vector<QAction*> exportActions_;
    std::vector<QShortcut*> shortcuts_;
};

} // namespace pv
