#include "ui/main/WorkspaceView.h"

#include "ui/design/Controls.h"
#include "ui/design/Depth.h"
#include "ui/design/LiveIndicators.h"
#include "ui/main/MainWidgets.h"
#include "ui/main/ModelActions.h"
#include "ui/main/OverviewFeed.h"
#include "ui/main/RootView.h"
#include "ui/main/TokenPalette.h"

#include "core/app/AppViewModel.h"
#include "core/app/Preferences.h"
#include "core/records/Localization.h"

#include <QDialog>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidgetAction>

namespace pv {

namespace {

int px(double v) { return static_cast<int>(v); }

constexpr int kRowInset = 3;     // above and below the row's label
constexpr int kRowPadding = 4;   // around the selection fill
constexpr int kRowSideInset = 8; // between the list edge and the selection fill
constexpr int kRowTextGap = 10;  // between the symbol and the texts
constexpr double kRowSymbolPoints = 14;

struct RowGeometry {
    QRectF symbol;
    QRect title;
    QRect subtitle;
};

// Where a row's parts go in a row rectangle; the texts wrap within the width that is left.
RowGeometry rowGeometry(const QRect& row, const QString& titleText, const QString& subtitleText)
{
    const QFontMetrics titleMetrics(pvFont(PVFontToken::cardTitle));
    const QFontMetrics subtitleMetrics(pvFont(PVFontToken::microCaption));
    // The symbol follows the text size, as the title beside it does.
    const double box = symbolBox(kRowSymbolPoints * PVTheme::instance().textScale(PVFontToken::cardTitle.relativeTo));
    const int left = row.left() + kRowSideInset + 8;
    const int textLeft = left + static_cast<int>(box) + kRowTextGap;
    const int textWidth = std::max(40, row.right() - kRowSideInset - 8 - textLeft);
    const QRect t = titleMetrics.boundingRect(QRect(textLeft, 0, textWidth, 10000), Qt::TextWordWrap, titleText);
    const QRect s = subtitleMetrics.boundingRect(QRect(textLeft, 0, textWidth, 10000), Qt::TextWordWrap, subtitleText);
    const int top = row.top() + kRowPadding + kRowInset;
    RowGeometry g;
    g.title = QRect(textLeft, top, textWidth, std::max(t.height(), px(PVFontToken::cardTitle.lineHeight)));
    g.subtitle = QRect(textLeft, g.title.bottom() + 1 + 1, textWidth, s.height());
    g.symbol = QRectF(left, row.top() + (row.height() - box) / 2, box, box);
    return g;
}

} // namespace

// ---- Sidebar rows -----------------------------------------------------------------------------------

void WorkspaceSectionDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                                     const QModelIndex& index) const
{
    const auto section = static_cast<WorkspaceSection>(index.data(kSectionRole).toInt());
    const PVPaintContext ctx = PVPaintContext::forWidget(option.widget);
    const bool selected = option.state & QStyle::State_Selected;
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    if (selected || (option.state & QStyle::State_MouseOver)) {
        const QRectF fill = QRectF(option.rect).adjusted(kRowSideInset, 1, -kRowSideInset, -1);
        painter->setPen(Qt::NoPen);
        painter->setBrush(ctx.color(selected ? PV::color::interactive::pressed : PV::color::interactive::hover));
        painter->drawRoundedRect(fill, PV::radius::control, PV::radius::control);
    }
    if ((option.state & QStyle::State_HasFocus) && option.widget
        && hasKeyboardFocus(option.widget)) {
        const double inset = kFocusRingWidth / 2;
        const QRectF ring = QRectF(option.rect).adjusted(kRowSideInset - 2 + inset, inset, -kRowSideInset + 2 - inset, -inset);
        painter->setPen(QPen(ctx.color(PV::color::focus::ring()), kFocusRingWidth));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(ring, PV::radius::control + 2, PV::radius::control + 2);
    }
    const RowGeometry g = rowGeometry(option.rect, title(section), subtitle(section));
    pvPaintSymbol(*painter, g.symbol, symbolName(section),
                  selected ? ctx.accent : ctx.color(PV::color::ink::tertiary));
    painter->setFont(pvFont(PVFontToken::cardTitle));
    painter->setPen(ctx.color(PV::color::ink::primary));
    painter->drawText(g.title, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, title(section));
    painter->setFont(pvFont(PVFontToken::microCaption));
    painter->setPen(ctx.color(PV::color::ink::tertiary));
    painter->drawText(g.subtitle, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, subtitle(section));
    painter->restore();
}

QSize WorkspaceSectionDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const auto section = static_cast<WorkspaceSection>(index.data(kSectionRole).toInt());
    const auto* view = qobject_cast<const QAbstractItemView*>(option.widget);
    const int width = view ? view->viewport()->width() : WorkspaceView::kSidebarIdeal;
    const RowGeometry g = rowGeometry(QRect(0, 0, width, 100), title(section), subtitle(section));
    return {width, g.subtitle.bottom() + 1 + kRowInset + kRowPadding};
}

// ---- Workspace --------------------------------------------------------------------------------------

WorkspaceView::WorkspaceView(AppViewModel& model, std::shared_ptr<QSettings> settings, QWidget* parent)
    : QWidget(parent)
    , model_(model)
    , feed_(OverviewFeed::of(model))
    , settings_(settings ? std::move(settings) : PreferencesStore::makeDefaultSettings())
    , welcomeFactory_(&screens::makeWelcomeScreen)
{
    pvResolveDepthStyle(this);
    followTokenPalette(this);
    auto* outer = new QHBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    splitter_ = new PVSeamSplitter(Qt::Horizontal, this);
    splitter_->setChildrenCollapsible(false);
    splitter_->setHandleWidth(1);
    outer->addWidget(splitter_);

    // Sidebar: the section list with the status row at its foot.
    auto* sidebar = new PVShadowHost(splitter_);
    sidebar->setBackground(PV::color::surface::canvas);
    sidebar->setMinimumWidth(kSidebarMinimum);
    sidebar->setMaximumWidth(kSidebarMaximum);
    auto* sidebarLayout = new QVBoxLayout(sidebar);
    sidebarLayout->setContentsMargins(0, px(PV::space::xs), 0, 0);
    sidebarLayout->setSpacing(0);
    list_ = new QListWidget(sidebar);
    list_->setFrameShape(QFrame::NoFrame);
    list_->setItemDelegate(new WorkspaceSectionDelegate(list_));
    list_->setResizeMode(QListView::Adjust);
    list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list_->setMouseTracking(true);
    list_->viewport()->setAutoFillBackground(false);
    trackKeyboardFocus(list_); // its current row shows a ring only for keyboard focus
    list_->setAutoFillBackground(false);
    for (WorkspaceSection s : allWorkspaceSections()) {
        auto* item = new QListWidgetItem(title(s), list_);
        item->setData(WorkspaceSectionDelegate::kSectionRole, static_cast<int>(s));
        item->setToolTip(subtitle(s));
    }
    sidebarLayout->addWidget(list_, 1);

    auto* status = new QWidget(sidebar);
    auto* statusStack = new QVBoxLayout(status);
    const int inset = px(PV::space::s);
    statusStack->setContentsMargins(inset, inset, inset, inset);
    statusStack->setSpacing(px(PV::space::xs));
    statusStack->addWidget(new PVDivider(status));
    auto* statusRowBox = new PVWrappingRow(px(PV::space::xs), status);
    QBoxLayout* statusRow = statusRowBox->box();
    liveRow_ = new PVLiveIndicator(statusMark(PVStatus::good), L("Rögzítés fut"), statusRowBox);
    pausedRow_ = new QWidget(statusRowBox);
    auto* paused = new QHBoxLayout(pausedRow_);
    paused->setContentsMargins(0, 0, 0, 0);
    paused->setSpacing(px(PV::space::xs));
    paused->addWidget(new PVSymbolView("pause.circle.fill", 11, statusMarkSaturated(PVStatus::neutral), pausedRow_), 0,
                      Qt::AlignVCenter);
    auto* pausedText = new PVText(L("Szünetel"), PVFontToken::caption, PV::color::ink::secondary, pausedRow_);
    pausedText->setWrapping(false);
    paused->addWidget(pausedText, 0, Qt::AlignVCenter);
    statusRow->addWidget(liveRow_, 0, Qt::AlignLeft | Qt::AlignVCenter);
    statusRow->addWidget(pausedRow_, 0, Qt::AlignLeft | Qt::AlignVCenter);
    statusRow->addStretch(1);
    recordingButton_ = new QPushButton(statusRowBox);
    recordingButton_->setFont(pvFont(PVFontToken::caption));
    connect(recordingButton_, &QPushButton::clicked, this, [this] { actions::toggleMonitoring(model_); });
    statusRow->addWidget(recordingButton_, 0, Qt::AlignLeft | Qt::AlignVCenter);
    statusStack->addWidget(statusRowBox);
    sidebarLayout->addWidget(status);

    // Detail column: the toolbar of the screen shown, then the screen.
    auto* detailColumn = new PVShadowHost(splitter_);
    detailColumn->setBackground(PV::color::surface::canvas);
    detailLayout_ = new QVBoxLayout(detailColumn);
    detailLayout_->setContentsMargins(0, 0, 0, 0);
    detailLayout_->setSpacing(0);
    toolBarRow_ = new QWidget(detailColumn);
    auto* toolBarLayout = new QHBoxLayout(toolBarRow_);
    toolBarLayout->setContentsMargins(px(PV::space::s), px(PV::space::xs), px(PV::space::s), px(PV::space::xxs));
    toolBar_ = new QToolBar(toolBarRow_);
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    toolBar_->layout()->setSpacing(px(PV::space::xs));
    toolBarLayout->addWidget(toolBar_);
    detailLayout_->addWidget(toolBarRow_);
    splitter_->addWidget(sidebar);
    splitter_->addWidget(detailColumn);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    splitter_->setSizes({kSidebarIdeal, 100000});

    list_->setCurrentRow(static_cast<int>(section_));
    connect(list_, &QListWidget::currentRowChanged, this, &WorkspaceView::onListSelection);
    connect(&feed_, &OverviewFeed::changed, this, &WorkspaceView::refreshStatusRow);
    connect(&NotificationCenter::instance(), &NotificationCenter::reopenWelcome, this, [this] {
        if (isVisible())
            openWelcome();
    });
    showDetail();
    refreshStatusRow();
}

WorkspaceView::~WorkspaceView() { clearToolBar(); }

void WorkspaceView::clearToolBar()
{
    // The screen's actions stay with the screen; a widget the toolbar adopted goes with the action
    // that holds it, so switching sections leaves nothing behind.
    for (QAction* action : toolBar_->actions()) {
        auto* holder = qobject_cast<QWidgetAction*>(action);
        toolBar_->removeAction(action);
        if (holder && holder->parent() == toolBar_)
            delete holder;
    }
}

bool WorkspaceView::showsRecordingLive() const { return !liveRow_->isHidden(); }

void WorkspaceView::selectSection(WorkspaceSection section)
{
    if (section == section_)
        return;
    section_ = section;
    settings_->setValue(QLatin1String(lastSectionKey), rawValue(section));
    settings_->sync();
    {
        const QSignalBlocker block(list_);
        list_->setCurrentRow(static_cast<int>(section));
    }
    showDetail();
}

void WorkspaceView::onListSelection(int row)
{
    if (row < 0 || row >= static_cast<int>(allWorkspaceSections().size()))
        return;
    selectSection(static_cast<WorkspaceSection>(row));
}

void WorkspaceView::showDetail()
{
    clearToolBar();
    if (detail_) {
        detailLayout_->removeWidget(detail_);
        delete detail_;
    }
    QWidget* screen = nullptr;
    switch (section_) {
    case WorkspaceSection::overview: {
        auto* root = new PolvarineRootView(model_);
        toolBar_->addAction(root->monitoringAction());
        root->exportButton()->show();
        toolBar_->addWidget(root->exportButton());
        screen = root;
        break;
    }
    case WorkspaceSection::history: screen = screens::makeHistoryScreen(model_); break;
    case WorkspaceSection::loadTest: screen = screens::makeLoadTestScreen(model_); break;
    case WorkspaceSection::dossier: screen = screens::makeDossierScreen(model_); break;
    case WorkspaceSection::settings: screen = screens::makeSettingsScreen(model_); break;
    }
    if (!screen)
        screen = new PVPlaceholderScreen(title(section_), subtitle(section_), symbolName(section_));
    // A toolbar leaves its action buttons out of the Tab order; here they are controls like any other.
    for (QAction* action : toolBar_->actions())
        if (QWidget* button = toolBar_->widgetForAction(action); button && button->focusPolicy() == Qt::NoFocus)
            button->setFocusPolicy(Qt::TabFocus);
    toolBarRow_->setVisible(!toolBar_->actions().isEmpty());
    detail_ = screen;
    detailLayout_->addWidget(screen, 1);
}

void WorkspaceView::refreshStatusRow()
{
    const auto held = feed_.snapshot();
    const OverviewSnapshot& s = *held;
    const bool monitoring = s.isMonitoring;
    // Never a green "recording" while the batches fail to be stored or are kept in memory only.
    liveRow_->setTint(statusMark(s.isRecordingFailing ? PVStatus::serious : PVStatus::good));
    liveRow_->setLabel(recordingStatusLabel(s));
    liveRow_->setToolTip(s.isRecordingFailing ? s.statusMessage.value_or(s.storageBannerMessage.value_or(QString()))
                                              : QString());
    liveRow_->setVisible(monitoring);
    pausedRow_->setVisible(!monitoring);
    recordingButton_->setText(recordingButtonTitle(monitoring));
    recordingButton_->setEnabled(actions::canToggleMonitoring(model_));
}

void WorkspaceView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;
    if (!didFirstShow_) {
        didFirstShow_ = true;
        selectSection(restoreSection(settings_->value(QLatin1String(lastSectionKey), QStringLiteral("overview")).toString(),
                                     section_));
        if (actions::canBootstrap(model_))
            actions::bootstrap(model_);
    }
    // Checked on every show: a welcome closed without finishing opens again next time.
    if (!settings_->value(QLatin1String(didWelcomeKey), false).toBool())
        openWelcome();
}

void WorkspaceView::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    // The welcome sheet is modal: when the window under it is activated (the window manager gives a
    // window that has just been mapped the focus, or the user clicks it), the sheet is raised and
    // takes the keyboard back, once the activation has settled.
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && welcome_ && welcome_->isVisible())
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (welcome_ && welcome_->isVisible() && !welcome_->isActiveWindow()) {
                    welcome_->raise();
                    welcome_->activateWindow();
                }
            },
            Qt::QueuedConnection);
}

void WorkspaceView::openWelcome()
{
    if (welcome_ || !welcomeFactory_)
        return;
    QWidget* screen = welcomeFactory_(model_, [this] { finishWelcome(); });
    if (!screen)
        return;
    auto* dialog = new QDialog(this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(screen);
    welcome_ = dialog;
    dialog->open();
}

void WorkspaceView::finishWelcome()
{
    // Stored before the sheet closes, so a crash on the way cannot bring the flow back.
    settings_->setValue(QLatin1String(didWelcomeKey), true);
    settings_->sync();
    if (welcome_)
        welcome_->close();
}

} // namespace pv
