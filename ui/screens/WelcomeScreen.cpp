#include "ui/screens/WelcomeScreen.h"

#include "core/app/AppViewModel.h"
#include "core/app/Preferences.h"
#include "core/records/Localization.h"
#include "ui/main/MainWidgets.h"
#include "ui/main/TokenPalette.h"
#include "ui/screens/SettingsScreen.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <cmath>

namespace pv {

// ---- Step dots --------------------------------------------------------------------------------------

PVStepDots::PVStepDots(int count, QWidget* parent) : QWidget(parent), count_(count)
{
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    animation_ = new QVariantAnimation(this);
    animation_->setDuration(200);
    animation_->setEasingCurve(QEasingCurve::OutCubic);
    animation_->setStartValue(0.0);
    animation_->setEndValue(1.0);
    connect(animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& v) {
        progress_ = v.toDouble();
        update();
    });
}

QSize PVStepDots::sizeHint() const { return {18 + 6 * (count_ - 1) + 12 * (count_ - 1), 6}; }

void PVStepDots::setCurrent(int index)
{
    if (index == current_)
        return;
    previous_ = current_;
    current_ = index;
    animation_->stop();
    if (PVTheme::instance().reduceMotion()) {
        progress_ = 1;
        update();
    } else {
        progress_ = 0;
        animation_->start();
    }
}

void PVStepDots::paintEvent(QPaintEvent*)
{
    const PVPaintContext ctx = PVPaintContext::forWidget(this);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor on = ctx.color(PV::color::ink::secondary);
    const QColor off = ctx.color(PV::color::ink::quaternary);
    auto mix = [](const QColor& a, const QColor& b, double t) {
        return QColor::fromRgbF(static_cast<float>(a.redF() + (b.redF() - a.redF()) * t),
                                static_cast<float>(a.greenF() + (b.greenF() - a.greenF()) * t),
                                static_cast<float>(a.blueF() + (b.blueF() - a.blueF()) * t),
                                static_cast<float>(a.alphaF() + (b.alphaF() - a.alphaF()) * t));
    };
    double x = 0;
    for (int i = 0; i < count_; ++i) {
        double longness = 0;
        if (i == current_)
            longness = progress_;
        else if (i == previous_ && previous_ != current_)
            longness = 1 - progress_;
        const double w = dotWidth(longness);
        p.setPen(Qt::NoPen);
        p.setBrush(mix(off, on, longness));
        p.drawRoundedRect(QRectF(x, 0, w, 6), 3, 3);
        x += w + 12;
    }
}

// ---- Pieces of the pages -------------------------------------------------------------------------------

namespace {

// A rounded card-coloured panel.
class CardPanel : public QWidget {
public:
    CardPanel(double radius, QWidget* parent) : QWidget(parent), radius_(radius) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(PVPaintContext::forWidget(this).color(PV::color::surface::card));
        p.drawRoundedRect(QRectF(rect()), radius_, radius_);
    }

private:
    double radius_;
};

// The 34 × 34 tile of a segment: the tint at 0.14 under the segment's symbol. Tile and symbol grow
// with the title beside them.
class IconTile : public QWidget {
public:
    IconTile(std::string_view symbol, const PVColor& tint, QWidget* parent)
        : QWidget(parent), symbol_(symbol), tint_(tint)
    {
        setObjectName(QStringLiteral("segmentIcon"));
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        connect(&PVTheme::instance(), &PVTheme::changed, this, [this] { updateGeometry(); });
    }

    QSize sizeHint() const override
    {
        const int side = static_cast<int>(std::lround(34 * growth()));
        return {side, side};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const PVPaintContext ctx = PVPaintContext::forWidget(this);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(ctx.color(tint_.opacity(0.14)));
        p.drawRoundedRect(QRectF(rect()), 8, 8);
        const double box = symbolBox(15 * growth());
        pvPaintSymbol(p, QRectF((width() - box) / 2, (height() - box) / 2, box, box), symbol_, ctx.color(tint_));
    }

private:
    static double growth() { return pvSymbolGrowth(PVFontToken::cardTitle.relativeTo); }

    std::string_view symbol_;
    PVColor tint_;
};

PVText* text(const QString& s, const PVFontToken& token, const PVColor& color, QWidget* parent, bool wraps)
{
    auto* t = new PVText(s, token, color, parent);
    t->setWrapping(wraps);
    return t;
}

QVBoxLayout* column(QWidget* w, int spacing, QMargins margins = {})
{
    auto* layout = new QVBoxLayout(w);
    layout->setContentsMargins(margins);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

// ---- The screen ---------------------------------------------------------------------------------------

WelcomeScreen::WelcomeScreen(AppViewModel& viewModel, std::function<void()> onFinish, QWidget* parent)
    : WelcomeScreen(viewModel, std::move(onFinish), DesktopHooks::current(), parent)
{
}

WelcomeScreen::WelcomeScreen(AppViewModel& viewModel, std::function<void()> onFinish, DesktopHooks hooks,
                             QWidget* parent)
    : QWidget(parent), preferences_(viewModel.preferences()), onFinish_(std::move(onFinish)), hooks_(std::move(hooks))
{
    pvResolveDepthStyle(this);
    followTokenPalette(this);
    auto* outer = column(this, 0, QMargins(kMargin, kMargin, kMargin, kMargin));
    // The pages scroll when the screen is too small for the largest of them.
    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidgetResizable(true);
    scroll_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll_->viewport()->setAutoFillBackground(false);
    scroll_->setFocusPolicy(Qt::NoFocus); // Tab goes to the controls on the pages, not to the page
    auto* pagesHost = new QWidget(scroll_);
    pagesHost->setAutoFillBackground(false);
    pages_ = new QStackedLayout(pagesHost);
    pages_->addWidget(makePage0());
    pages_->addWidget(makePage1());
    pages_->addWidget(makePage2());
    scroll_->setWidget(pagesHost);
    outer->addWidget(scroll_, 1);

    nav_ = new QHBoxLayout();
    nav_->setContentsMargins(0, 16, 0, 0);
    nav_->setSpacing(12);
    dots_ = new PVStepDots(3, this);
    nav_->addWidget(dots_, 0, Qt::AlignVCenter);
    nav_->addStretch(1);
    back_ = new QPushButton(L("Vissza"), this);
    back_->setAutoDefault(false);
    connect(back_, &QPushButton::clicked, this, &WelcomeScreen::back);
    nav_->addWidget(back_, 0, Qt::AlignVCenter);
    primary_ = new PVPrimaryButton(QString(), this);
    primary_->setDefault(true);
    primary_->setAutoDefault(true);
    connect(primary_, &QPushButton::clicked, this, &WelcomeScreen::advance);
    nav_->addWidget(primary_, 0, Qt::AlignVCenter);
    outer->addLayout(nav_);
    refresh();
    fitToContent();
    connect(&PVTheme::instance(), &PVTheme::changed, this, &WelcomeScreen::fitToContent);
}

QSize WelcomeScreen::contentSize(const QSize& available) const
{
    // As wide as the widest line that does not wrap needs, at least the usual width; as tall as the
    // tallest page at that width, at least the usual height; never larger than the screen.
    const int margins = 2 * kMargin;
    QWidget* pagesHost = scroll_->widget();
    int width = std::max(kWidth, std::max(pagesHost->minimumSizeHint().width(), nav_->minimumSize().width()) + margins);
    width = std::min(width, available.width());
    const int inner = width - margins;
    const int pagesHeight =
        pagesHost->hasHeightForWidth() ? pagesHost->heightForWidth(inner) : pagesHost->sizeHint().height();
    const int wanted = std::max(kHeight, pagesHeight + nav_->sizeHint().height() + margins);
    if (wanted > available.height()) // the pages scroll: room for the scroll bar beside them
        width = std::min(width + scroll_->verticalScrollBar()->sizeHint().width(), available.width());
    return {width, std::min(wanted, available.height())};
}

void WelcomeScreen::fitToContent()
{
    const QScreen* shown = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    QSize available(4096, 4096);
    if (shown != nullptr) // leaves room for the window's frame and the desktop's panels
        available = shown->availableGeometry().size() - QSize(kScreenRoom, kScreenRoom);
    const QSize size = contentSize(available);
    if (size != this->size() || minimumSize() != size || maximumSize() != size)
        setFixedSize(size);
}

QWidget* WelcomeScreen::makePage0()
{
    auto* page = new QWidget(this);
    auto* stack = column(page, 16);
    stack->addWidget(text(L("Mit csinál a Polvarine"), PVFontToken::heroHeadline, PV::color::ink::primary, page, true));
    stack->addWidget(text(L("Folyamatosan méri az internetkapcsolatodat, és amikor valami elromlik, megmondja, hogy a "
                            "három szakasz közül melyiken — mert a válasz szinte soha nem az, hogy „lassú az "
                            "internet”."),
                          PVFontToken::body, PV::color::ink::secondary, page, true));
    auto* segments = new QWidget(page);
    auto* segmentStack = column(segments, 8);
    struct Segment {
        const char* title;
        const char* detail;
        std::string_view symbol;
        PVDynamicColor tint;
    };
    const Segment items[] = {
        {"A Wi-Fi kapcsolatod", "A géped és a router közötti rádiós szakasz.", "wifi", PV::color::culprit::wifi},
        {"A routered", "A lakásodon belüli hálózat.", "wifi.router.fill", PV::color::culprit::router},
        {"A szolgáltatód", "Minden, ami a routereden túl van.", "globe.europe.africa.fill",
         PV::color::culprit::provider}};
    for (const Segment& s : items) {
        auto* card = new CardPanel(8, segments);
        auto* row = new QHBoxLayout(card);
        row->setContentsMargins(8, 8, 8, 8);
        row->setSpacing(12);
        row->addWidget(new IconTile(s.symbol, s.tint, card), 0, Qt::AlignVCenter);
        auto* texts = new QWidget(card);
        auto* textStack = column(texts, 1);
        textStack->addWidget(text(L(s.title), PVFontToken::cardTitle, PV::color::ink::primary, texts, false));
        textStack->addWidget(text(L(s.detail), PVFontToken::caption, PV::color::ink::secondary, texts, false));
        row->addWidget(texts, 0, Qt::AlignVCenter);
        row->addStretch(1);
        segmentStack->addWidget(card);
    }
    stack->addWidget(segments);
    stack->addWidget(text(L("A különbség a három között az, ami megengedi, hogy megnevezzük a hibást — és hogy legyen "
                            "mit válaszolni arra, hogy „biztos a te Wi-Fid”."),
                          PVFontToken::caption, PV::color::ink::tertiary, page, true));
    stack->addStretch(1);
    return page;
}

QWidget* WelcomeScreen::makePage1()
{
    auto* page = new QWidget(this);
    auto* stack = column(page, 16);
    stack->addWidget(
        text(L("Két beállítás, ami tényleg számít"), PVFontToken::heroHeadline, PV::color::ink::primary, page, true));
    stack->addWidget(text(L("A többit később is ráérsz. Ez a kettő viszont eldönti, hogy mennyit ér majd a "
                            "feljegyzés."),
                          PVFontToken::body, PV::color::ink::secondary, page, true));
    // The card holds what the user can set here: the Wi-Fi names need no permission on this
    // system, so there is nothing to allow beside starting at login.
    auto* card = new CardPanel(14, page);
    auto* cardStack = column(card, 12, QMargins(12, 12, 12, 12));
    launch_ = new PVSwitch(card);
    launch_->setAccessibleName(L("Induljon el bejelentkezéskor"));
    bindLaunchSwitch(launch_, preferences_);
    cardStack->addWidget(new PVSettingRow(
        L("Induljon el bejelentkezéskor"),
        L("A hibák nem akkor történnek, amikor eszedbe jut elindítani egy mérőalkalmazást."), PVFontToken::callout,
        PV::color::ink::tertiary, launch_, card));
    stack->addWidget(card);
    stack->addWidget(text(L("Semmilyen adat nem hagyja el a gépedet. Nincs fiók, nincs felhő, nincs telemetria."),
                          PVFontToken::caption, PV::color::ink::tertiary, page, false));
    stack->addStretch(1);
    return page;
}

QWidget* WelcomeScreen::makePage2()
{
    auto* page = new QWidget(this);
    auto* stack = column(page, 16);
    stack->addWidget(text(L("Most pedig hagyd futni"), PVFontToken::heroHeadline, PV::color::ink::primary, page, true));
    stack->addWidget(text(L("Ez az egyetlen dolog, amit tenned kell. A mérés a menüsávból is látszik, és nem zavar."),
                          PVFontToken::body, PV::color::ink::secondary, page, true));
    auto* milestones = new QWidget(page);
    auto* list = column(milestones, 12);
    const std::tuple<const char*, const char*, const char*> items[] = {
        {"1", "Egy perc múlva", "Megjelenik az első ítélet: mire elég a kapcsolat most."},
        {"2", "Egy-két nap múlva",
         "Lesz mit felmutatni. Egy egyszeri mérésre a szolgáltató azt mondja, nálad a hiba; egy több napos "
         "feljegyzésre nem tudja ezt mondani."},
        {"3", "Amikor kell", "A Mérési dosszié fülön készíthetsz belőle PDF-et, amit elküldhetsz."}};
    for (const auto& [number, itemTitle, itemDetail] : items) {
        auto* line = new QWidget(milestones);
        auto* row = new QHBoxLayout(line);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(12);
        auto* n = text(QString::fromLatin1(number), PVFontToken::cardTitle, PV::color::ink::tertiary, line, false);
        n->setHorizontalAlignment(Qt::AlignHCenter);
        n->setFixedWidth(18);
        row->addWidget(n, 0, Qt::AlignTop);
        auto* texts = new QWidget(line);
        auto* textStack = column(texts, 1);
        textStack->addWidget(text(L(itemTitle), PVFontToken::cardTitle, PV::color::ink::primary, texts, false));
        textStack->addWidget(text(L(itemDetail), PVFontToken::caption, PV::color::ink::secondary, texts, true));
        row->addWidget(texts, 1, Qt::AlignTop);
        list->addWidget(line);
    }
    stack->addWidget(milestones);
    stack->addStretch(1);
    stack->addWidget(text(L("Ezt az ablakot bármikor újra előhívhatod a Súgó menüből."), PVFontToken::caption,
                          PV::color::ink::tertiary, page, false));
    return page;
}

int WelcomeScreen::shownPage() const { return step_ == 0 || step_ == 1 ? step_ : 2; }

QAbstractButton* WelcomeScreen::backButton() const { return back_; }

void WelcomeScreen::advance()
{
    if (step_ == 2) {
        if (onFinish_)
            onFinish_();
        return;
    }
    ++step_;
    refresh();
}

void WelcomeScreen::back()
{
    if (step_ < 1)
        return;
    --step_;
    refresh();
}

void WelcomeScreen::refresh()
{
    pages_->setCurrentIndex(shownPage());
    dots_->setCurrent(std::min(step_, 2));
    back_->setVisible(step_ >= 1);
    primary_->setText(step_ == 2 ? L("Kezdjük") : L("Tovább"));
}

void WelcomeScreen::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    fitToContent();
    preferences_.refreshLoginItemStatus();
    launch_->setChecked(preferences_.launchesAtLogin());
    takeKeyboard();
    // The sheet opens while the window under it is still being shown, and that window takes the
    // activation once it is up: the sheet takes it back on the next turn of the event loop.
    QMetaObject::invokeMethod(this, &WelcomeScreen::takeKeyboard, Qt::QueuedConnection);
}

void WelcomeScreen::takeKeyboard()
{
    if (!isVisible())
        return;
    QWidget* sheet = window();
    sheet->raise();
    sheet->activateWindow();
    primary_->setFocus(Qt::ActiveWindowFocusReason);
}

void WelcomeScreen::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.fillRect(rect(), PVPaintContext::forWidget(this).color(PV::color::surface::canvas));
}

} // namespace pv
