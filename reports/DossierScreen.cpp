#include "reports/DossierScreen.h"

#include "core/app/AppViewModel.h"
#include "core/records/Localization.h"
#include "core/records/Logging.h"
#include "ui/design/Components.h"
#include "ui/design/Controls.h"
#include "ui/design/Depth.h"
#include "ui/design/Symbols.h"
#include "ui/design/Text.h"
#include "ui/design/Theme.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include <cmath>
#include <memory>

namespace pv {

QString rawValue(DossierRangeOption option)
{
    switch (option) {
    case DossierRangeOption::lastDay: return QStringLiteral("lastDay");
    case DossierRangeOption::lastWeek: return QStringLiteral("lastWeek");
    case DossierRangeOption::lastMonth: return QStringLiteral("lastMonth");
    }
    return {};
}

std::optional<DossierRangeOption> parseDossierRangeOption(const QString& raw)
{
    for (DossierRangeOption o : kDossierRangeOptions)
        if (rawValue(o) == raw)
            return o;
    return std::nullopt;
}

QString title(DossierRangeOption option)
{
    switch (option) {
    case DossierRangeOption::lastDay: return L("Utolsó 24 óra");
    case DossierRangeOption::lastWeek: return L("Utolsó 7 nap");
    case DossierRangeOption::lastMonth: return L("Utolsó 30 nap");
    }
    return {};
}

double duration(DossierRangeOption option)
{
    switch (option) {
    case DossierRangeOption::lastDay: return 86400;
    case DossierRangeOption::lastWeek: return 604800;
    case DossierRangeOption::lastMonth: return 2592000;
    }
    return 0;
}

namespace {

constexpr int kColumnMaxWidth = 1160;
constexpr int kPickerMaxWidth = 380;

// Keeps a guard alive exactly as long as the model: a build started here resumes only while the
// model lives, and it outlives the screen (switching sections does not stop a build).
class BuildLifetime : public QObject {
public:
    explicit BuildLifetime(QObject* model) : QObject(model) { setObjectName(QStringLiteral("pv.dossier.lifetime")); }
    std::shared_ptr<int> guard = std::make_shared<int>(0);
};

rt::QtExecutor guardedExecutor(AppViewModel& model)
{
    auto* lifetime = dynamic_cast<BuildLifetime*>(
        model.findChild<QObject*>(QStringLiteral("pv.dossier.lifetime"), Qt::FindDirectChildrenOnly));
    if (lifetime == nullptr)
        lifetime = new BuildLifetime(&model);
    return rt::QtExecutor(std::weak_ptr<void>(lifetime->guard));
}

// A freedesktop icon tinted in one colour, in a fixed-width column.
class TintedIcon : public QWidget {
public:
    TintedIcon(const QString& themeName, const PVColor& tint, QWidget* parent)
        : QWidget(parent), icon_(QIcon::fromTheme(themeName)), tint_(tint),
          scale_(std::max(1.0, PVTheme::instance().textScale(PVFontToken::cardTitle.relativeTo)))
    {
        // The symbol grows with the title beside it.
        setFixedSize(static_cast<int>(std::lround(20 * scale_)), static_cast<int>(std::lround(18 * scale_)));
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        const qreal dpr = devicePixelRatioF();
        const int side = static_cast<int>(std::lround(15 * scale_));
        QPixmap pm = icon_.pixmap(QSize(side, side), dpr);
        if (pm.isNull())
            return;
        QPainter tint(&pm);
        tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
        tint.fillRect(pm.rect(), PVPaintContext::forWidget(this).color(tint_));
        tint.end();
        QPainter p(this);
        p.drawPixmap(QPointF(0, 1), pm);
    }

private:
    QIcon icon_;
    PVColor tint_;
    double scale_;
};

QWidget* contentRow(const QString& iconName, const QString& rowTitle, const QString& description, QWidget* parent)
{
    auto* row = new QWidget(parent);
    auto* h = new QHBoxLayout(row);
    h->setContentsMargins(0, 2, 0, 2);
    h->setSpacing(12);
    h->addWidget(new TintedIcon(iconName, PV::color::ink::tertiary, row), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout();
    texts->setSpacing(1);
    texts->addWidget(new PVText(rowTitle, PVFontToken::cardTitle, PV::color::ink::primary, row));
    texts->addWidget(new PVText(description, PVFontToken::caption, PV::color::ink::secondary, row));
    h->addLayout(texts, 1);
    return row;
}

} // namespace

// The outcome line under the action row: a confirmation reads as a caption; a failure is a warning
// panel like the overview's banners (the `watch` status's wash and border, a triangle at the size of
// the text, the message in body type).
class DossierNotice : public QWidget {
public:
    explicit DossierNotice(QWidget* parent)
        : QWidget(parent)
    {
        auto* row = new QHBoxLayout(this);
        row->setSpacing(static_cast<int>(PV::space::s));
        const double textScale = PVTheme::instance().textScale(PVFontToken::body.relativeTo);
        symbol_ = new PVSymbolView("exclamationmark.triangle.fill", PVFontToken::body.size * textScale,
                                   statusMarkSaturated(PVStatus::watch), this);
        row->addWidget(symbol_, 0, Qt::AlignTop);
        text_ = new PVText(QString(), PVFontToken::caption, PV::color::ink::secondary, this);
        row->addWidget(text_, 1);
        setWarning(false);
    }

    PVText* text() const { return text_; }
    bool isWarning() const { return warning_; }

    void setWarning(bool warning)
    {
        warning_ = warning;
        const int pad = warning ? static_cast<int>(PV::space::s) : 0;
        layout()->setContentsMargins(pad, pad, pad, pad);
        symbol_->setVisible(warning);
        text_->setToken(warning ? PVFontToken::body : PVFontToken::caption);
        text_->setColor(warning ? PV::color::ink::primary : PV::color::ink::secondary);
        update();
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (!warning_)
            return;
        constexpr double kRadius = 8;
        const PVPaintContext ctx = PVPaintContext::forWidget(this);
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()), kRadius, kRadius);
        p.fillPath(shape, ctx.color(statusWash(PVStatus::watch)));
        p.setPen(QPen(ctx.color(statusBorder(PVStatus::watch)), 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(pvInsetRoundedRect(QRectF(rect()), kRadius, 1));
    }

private:
    PVSymbolView* symbol_;
    PVText* text_;
    bool warning_ = false;
};

DossierScreen::DossierScreen(AppViewModel& model, QWidget* parent) : QScrollArea(parent), model_(model)
{
    setObjectName(QStringLiteral("DossierScreen"));
    const PVCentredPage page = pvMakeCentredPage(this, kColumnMaxWidth);
    auto* canvas = page.canvas;
    auto* column = page.column;
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(24, 24, 24, 24);
    stack->setSpacing(32);

    // Header.
    auto* header = new QVBoxLayout();
    header->setSpacing(2);
    header->addWidget(new PVText(L("Mérési dosszié"), PVFontToken::screenTitle, PV::color::ink::primary, column));
    header->addWidget(new PVText(L("Egy PDF, amit elküldhetsz a szolgáltatódnak: mit mértünk, mikor, és mi következik belőle."),
                                 PVFontToken::caption, PV::color::ink::tertiary, column));
    stack->addLayout(header);

    // Settings card.
    auto* settings = new PVSectionCard(L("Mit tartalmazzon"), std::nullopt, column);
    auto* settingsBody = new QWidget(settings);
    auto* settingsStack = new QVBoxLayout(settingsBody);
    settingsStack->setContentsMargins(0, 0, 0, 0);
    settingsStack->setSpacing(16);

    QStringList rangeTitles;
    for (DossierRangeOption option : kDossierRangeOptions)
        rangeTitles << title(option);
    rangePicker_ = new PVSegmentedPicker(rangeTitles, kPickerMaxWidth, settingsBody);
    rangePicker_->setAccessibleName(L("Időszak"));
    rangePicker_->setCurrentIndex(static_cast<int>(range_));
    connect(rangePicker_, &PVSegmentedPicker::picked, this,
            [this](int index) { range_ = kDossierRangeOptions[static_cast<std::size_t>(index)]; });
    settingsStack->addWidget(rangePicker_);

    auto* toggleRow = new QWidget(settingsBody);
    auto* toggleLayout = new QHBoxLayout(toggleRow);
    toggleLayout->setContentsMargins(0, 0, 0, 0);
    toggleLayout->setSpacing(12);
    auto* toggleTexts = new QVBoxLayout();
    toggleTexts->setSpacing(2);
    toggleTexts->addWidget(new PVText(L("A hálózat nevének elrejtése"), PVFontToken::callout, PV::color::ink::primary, toggleRow));
    toggleTexts->addWidget(new PVText(L("A hozzáférési pontok sorszámmal szerepelnek a nevük helyett. A dokumentum így is "
                                        "megmutatja, hányan voltak és miben különböztek."),
                                      PVFontToken::caption, PV::color::ink::tertiary, toggleRow));
    toggleLayout->addLayout(toggleTexts, 1);
    anonymiseSwitch_ = new PVSwitch(toggleRow);
    anonymiseSwitch_->setAccessibleName(L("A hálózat nevének elrejtése"));
    anonymiseSwitch_->setChecked(anonymise_);
    connect(anonymiseSwitch_, &QAbstractButton::toggled, this, [this](bool on) { anonymise_ = on; });
    toggleLayout->addWidget(anonymiseSwitch_, 0, Qt::AlignTop);
    settingsStack->addWidget(toggleRow);

    auto* actionRow = new QHBoxLayout();
    actionRow->setSpacing(12);
    createButton_ = new PVPrimaryButton(QIcon::fromTheme(QStringLiteral("document-new-symbolic")), L("Dosszié készítése"),
                                        settingsBody);
    createButton_->setDefault(true);
    connect(createButton_, &QPushButton::clicked, this, &DossierScreen::create);
    spinner_ = new QProgressBar(settingsBody);
    spinner_->setRange(0, 0);
    spinner_->setTextVisible(false);
    spinner_->setFixedSize(64, 8);
    revealButton_ = new QPushButton(L("Megmutatom a Finderben"), settingsBody);
    connect(revealButton_, &QPushButton::clicked, this, &DossierScreen::reveal);
    actionRow->addWidget(createButton_, 0, Qt::AlignVCenter);
    actionRow->addWidget(spinner_, 0, Qt::AlignVCenter);
    actionRow->addWidget(revealButton_, 0, Qt::AlignVCenter);
    actionRow->addStretch(1);
    settingsStack->addLayout(actionRow);

    notice_ = new DossierNotice(settingsBody);
    status_ = notice_->text();
    settingsStack->addWidget(notice_);
    settings->addContent(settingsBody);
    stack->addWidget(settings);

    // Contents card: a fixed list, whatever the next dossier will hold.
    auto* contents = new PVSectionCard(L("Mi kerül bele"),
                                       L("Ami nincs mérve, az nem kerül bele — üres oldalak helyett rövidebb dokumentum."), column);
    auto* rows = new QWidget(contents);
    auto* rowStack = new QVBoxLayout(rows);
    rowStack->setContentsMargins(0, 0, 0, 0);
    rowStack->setSpacing(8);
    struct Row {
        const char* icon;
        const char* title;
        const char* description;
    };
    static constexpr Row kRows[] = {
        {"x-office-document-symbolic", "Összefoglaló", "Mire volt elég a kapcsolat, és hol keletkezett a hiba."},
        {"dialog-warning-symbolic", "Kimaradás-táblázat", "Minden kiesés kezdete, hossza és szakasza."},
        {"x-office-spreadsheet-symbolic", "Idővonal", "A router és a szolgáltatói szakasz külön görbén."},
        {"document-open-recent-symbolic", "Napszaki profil", "Az esti csúcs — amit egy pillanatnyi sebességmérés sosem mutat meg."},
        {"network-wireless-symbolic", "Hozzáférési pontok", "Melyikhez kapcsolódtál, és ott milyen volt a jel."},
        {"edit-select-all-symbolic", "Hézagok", "Mikor nem mértünk. Ez nem hiba, de el kell számolni vele."},
        {"help-contents-symbolic", "Módszertan", "Hogyan mértünk, és mit nem mértünk."},
    };
    for (const Row& r : kRows)
        rowStack->addWidget(contentRow(QString::fromLatin1(r.icon), L(r.title), L(r.description), rows));
    contents->addContent(rows);
    stack->addWidget(contents);

    // Purpose card.
    auto* purpose = new PVSectionCard(L("Mire jó és mire nem"), std::nullopt, column);
    auto* paragraphs = new QWidget(purpose);
    auto* paragraphStack = new QVBoxLayout(paragraphs);
    paragraphStack->setContentsMargins(0, 0, 0, 0);
    paragraphStack->setSpacing(12);
    paragraphStack->addWidget(new PVText(
        L("A dosszié független mérési feljegyzés: az, amit a te gépeden ténylegesen mértünk. Erős eszköz ahhoz, hogy a "
          "hibabejelentést ne „néha akadozik” nyissa, hanem konkrét, időbélyeges kimaradások — és hogy a „biztos a te "
          "Wi-Fid” kifogásra legyen mit válaszolni."),
        PVFontToken::body, PV::color::ink::secondary, paragraphs));
    paragraphStack->addWidget(new PVText(
        L("Amit nem tud: nem hatóságilag ellenőrzött mérés, és nem sávszélességet mér. Ha hivatalos eljárásra kerül sor, "
          "ahhoz a szabályozó hatóság által elfogadott eszköz kell — a dokumentum utolsó oldala megmondja, hova fordulj. "
          "A dosszié abban segít, hogy tudd, mikor érdemes odáig elmenni."),
        PVFontToken::body, PV::color::ink::secondary, paragraphs));
    purpose->addContent(paragraphs);
    stack->addWidget(purpose);
    stack->addStretch(1);
    setWidget(canvas);

    connect(&model_, &AppViewModel::isBuildingDossierChanged, this, &DossierScreen::refresh);
    connect(&model_, &AppViewModel::lastDossierURLChanged, this, &DossierScreen::refresh);
    connect(&model_, &AppViewModel::dossierStatusMessageChanged, this, &DossierScreen::refresh);
    refresh();
}

void DossierScreen::setRange(DossierRangeOption range)
{
    range_ = range;
    rangePicker_->setCurrentIndex(static_cast<int>(range));
}

void DossierScreen::setAnonymise(bool anonymise)
{
    anonymise_ = anonymise;
    anonymiseSwitch_->setChecked(anonymise);
}

void DossierScreen::create()
{
    // Read once: changing the picker or the switch later does not touch the running build.
    const double seconds = duration(range_);
    const bool hide = anonymise_;
    asio::co_spawn(guardedExecutor(model_), model_.createDossier(seconds, hide), asio::detached);
}

void DossierScreen::refresh()
{
    const bool building = model_.isBuildingDossier();
    // A disabled button cannot keep the focus: while the build runs it waits on the switch just
    // above the button, and returns to the button when the build ends.
    if (building && createButton_->hasFocus()) {
        anonymiseSwitch_->setFocus(movedFocusReason(this));
        focusParked_ = true;
    }
    createButton_->setEnabled(!building);
    if (!building && focusParked_) {
        focusParked_ = false;
        if (anonymiseSwitch_->hasFocus())
            createButton_->setFocus(movedFocusReason(this));
    }
    spinner_->setVisible(building);
    revealButton_->setVisible(model_.lastDossierURL().has_value());
    const auto& message = model_.dossierStatusMessage();
    // The model holds a file exactly when its message confirms one.
    notice_->setWarning(message.has_value() && !model_.lastDossierURL().has_value());
    status_->setText(message.value_or(QString()));
    notice_->setVisible(message.has_value());
}

void DossierScreen::showWarning(const QString& message)
{
    notice_->setWarning(true);
    status_->setText(message);
    notice_->setVisible(true);
}

bool DossierScreen::statusIsWarning() const { return notice_->isWarning(); }
QWidget* DossierScreen::statusNotice() const { return notice_; }

void DossierScreen::reveal()
{
    const auto url = model_.lastDossierURL();
    if (!url)
        return;
    const QUrl file = *url;
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(file.toLocalFile()).absolutePath());
    // No file manager: the screen says so where the button was pressed, naming the folder.
    QPointer<DossierScreen> screen(this);
    model_.revealInFileManager(file, folder, [screen](const QString& message) {
        if (screen)
            screen->showWarning(message);
    });
}

} // namespace pv
